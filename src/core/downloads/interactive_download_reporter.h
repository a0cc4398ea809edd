#pragma once

#include <map>
#include <memory>
#include <string>

#include "core/activity/activity_board.h"

#include "core/platform/dialogs.h"
#include "core/platform/main_queue.h"
#include "core/platform/workspace.h"
#include "download_reporter.h"

namespace corvidale {

// Shows running downloads in the window's strip, finished ones in the file
// manager and failed ones in a sheet.
class InteractiveDownloadReporter final : public DownloadReporter {
public:
    InteractiveDownloadReporter(platform::Workspace& workspace, platform::Dialogs& dialogs, platform::MainQueue& queue,
                                ActivityBoard& board)
        : workspace_(workspace), dialogs_(dialogs), queue_(queue), board_(board) {}
    ~InteractiveDownloadReporter() override;

    void pageDidFinishLoading(platform::WebView&) override {}
    void downloadDidStart(const platform::Download& running, const std::string& name,
                          std::function<void()> cancel) override;
    void downloadDidEnd(platform::DownloadId id) override;
    void downloadDidFinish(const std::string& path) override;
    void downloadDidFail(const std::string& name, const platform::Error& error) override;

private:
    platform::Workspace& workspace_;
    platform::Dialogs& dialogs_;
    platform::MainQueue& queue_;
    ActivityBoard& board_;
    struct Running {
        const platform::Download* download;
        std::string name;
        std::uint64_t row;
    };
    void watch();
    std::map<platform::DownloadId, Running> running_;
    // Reads the running downloads' progress while there are any.
    std::unique_ptr<platform::Timer> watching_;
    // The folder was shown in the last minute.
    bool revealedLately_ = false;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace corvidale
