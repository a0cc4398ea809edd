#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/activity/activity_board.h"
#include "core/platform/bundle.h"
#include "core/platform/dialogs.h"
#include "core/platform/process.h"
#include "core/platform/window.h"
#include "update_reporter.h"

namespace corvidale::updater {

// Alerts for checks and installations; an installation in the window title
// and on the launcher, and the one the user asked for in the window's strip;
// automatic installations that failed in the system log.
class InteractiveUpdateReporter : public UpdateReporter {
public:
    InteractiveUpdateReporter(platform::Dialogs& dialogs, platform::Window& window, platform::Bundle& bundle,
                              platform::Process& process, ActivityBoard& board)
        : bundle_(bundle), process_(process), dialogs_(dialogs), window_(window), board_(board) {}

    void showCheckOutcome(const CheckOutcome& outcome, bool autoUpdate,
                          std::function<void(CheckAnswer)> answer) override;
    // Silent: an automatic check bothers nobody.
    void automaticCheckFoundNothing() override {}
    void installationStarted(const Release& release, bool automatic, std::function<void()> cancel) override;
    void installationProgressed(const InstallProgress& progress) override;
    void installationCancelled() override;
    void installationSucceeded(const InstalledApp& installed, bool automatic,
                               std::function<void()> relaunch) override;
    void installationFailed(std::exception_ptr error, bool automatic) override;

protected:
    // Takes the installation off the strip and the launcher.
    void endProgress();

    platform::Bundle& bundle_;
    platform::Process& process_;

private:
    platform::Dialogs& dialogs_;
    platform::Window& window_;
    ActivityBoard& board_;
    std::optional<std::uint64_t> row_;
    std::string version_;
    InstallProgress downloaded_;  // the download's last figures, which the launcher keeps showing
    // The notes of the release being installed, for the alert that ends it.
    std::optional<std::string> notes_;
};

}  // namespace corvidale::updater
