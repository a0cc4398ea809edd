#pragma once

#include <map>
#include <string>

#include "core/activity/activity_board.h"

#include "core/platform/dialogs.h"
#include "core/platform/timers.h"
#include "core/platform/workspace.h"
#include "download_reporter.h"

namespace corvidale {

// Shows running downloads in the window's strip, finished ones in the file
// manager and failed ones in a sheet.
class InteractiveDownloadReporter final : public DownloadReporter {
public:
    InteractiveDownloadReporter(platform::Workspace& workspace, platform::Dialogs& dialogs, platform::MainQueue& queue,
                                ActivityBoard& board)
        : workspace_(workspace), dialogs_(dialogs), board_(board), watching_(queue), reveals_(queue, 1) {}

    void pageDidFinishLoading(platform::WebView&) override {}
    void downloadDidStart(const platform::Download& running, const std::string& name,
                          std::function<void()> cancel) override;
    void downloadDidEnd(platform::DownloadId id) override;
    void downloadDidFinish(const std::string& path) override;
    void downloadDidFail(const std::string& name, const platform::Error& error) override;

private:
    platform::Workspace& workspace_;
    platform::Dialogs& dialogs_;
    ActivityBoard& board_;
    struct Running {
        const platform::Download* download;
        std::string name;
        std::uint64_t row;
    };
    void watch();
    std::map<platform::DownloadId, Running> running_;
    // Reads the running downloads' progress while there are any.
    platform::TimerOwner watching_;
    // The folder is shown once a minute at most.
    platform::PerMinuteAllowance reveals_;
};

}  // namespace corvidale
