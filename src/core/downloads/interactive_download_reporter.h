#pragma once

#include <memory>

#include "core/platform/dialogs.h"
#include "core/platform/main_queue.h"
#include "core/platform/workspace.h"
#include "download_reporter.h"

namespace corvidale {

// Shows finished downloads in the file manager and failed ones in a sheet.
class InteractiveDownloadReporter final : public DownloadReporter {
public:
    InteractiveDownloadReporter(platform::Workspace& workspace, platform::Dialogs& dialogs, platform::MainQueue& queue)
        : workspace_(workspace), dialogs_(dialogs), queue_(queue) {}

    void pageDidFinishLoading(platform::WebView&) override {}
    void downloadDidFinish(const std::string& path) override;
    void downloadDidFail(const std::string& name, const platform::Error& error) override;

private:
    platform::Workspace& workspace_;
    platform::Dialogs& dialogs_;
    platform::MainQueue& queue_;
    // The folder was shown in the last minute.
    bool revealedLately_ = false;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace corvidale
