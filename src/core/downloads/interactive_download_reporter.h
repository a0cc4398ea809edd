#pragma once

#include <string>

#include "core/platform/dialogs.h"
#include "core/platform/timers.h"
#include "core/platform/workspace.h"
#include "download_reporter.h"

namespace corvidale {

// Shows finished downloads in the file manager and failed ones in a sheet.
class InteractiveDownloadReporter final : public DownloadReporter {
public:
    InteractiveDownloadReporter(platform::Workspace& workspace, platform::Dialogs& dialogs, platform::MainQueue& queue)
        : workspace_(workspace), dialogs_(dialogs), reveals_(queue, 1) {}

    void pageDidFinishLoading(platform::WebView&) override {}
    void downloadDidFinish(const std::string& path) override;
    void downloadDidFail(const std::string& name, const platform::Error& error) override;

private:
    platform::Workspace& workspace_;
    platform::Dialogs& dialogs_;
    // The folder is shown once a minute at most.
    platform::PerMinuteAllowance reveals_;
};

}  // namespace corvidale
