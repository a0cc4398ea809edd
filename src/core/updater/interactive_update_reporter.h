#pragma once

#include "core/platform/bundle.h"
#include "core/platform/dialogs.h"
#include "core/platform/process.h"
#include "core/platform/window.h"
#include "update_reporter.h"

namespace corvidale::updater {

// Alerts for checks and installations, the installation's progress in the
// window title, and automatic installations that failed in the system log.
class InteractiveUpdateReporter : public UpdateReporter {
public:
    InteractiveUpdateReporter(platform::Dialogs& dialogs, platform::Window& window, platform::Bundle& bundle,
                              platform::Process& process)
        : bundle_(bundle), process_(process), dialogs_(dialogs), window_(window) {}

    void showCheckOutcome(const CheckOutcome& outcome, bool autoUpdate,
                          std::function<void(CheckAnswer)> answer) override;
    // Silent: an automatic check bothers nobody.
    void automaticCheckFoundNothing() override {}
    void installationStarted(const Release& release) override;
    void installationSucceeded(const InstalledApp& installed, bool automatic,
                               std::function<void()> relaunch) override;
    void installationFailed(std::exception_ptr error, bool automatic) override;

protected:
    platform::Bundle& bundle_;
    platform::Process& process_;

private:
    platform::Dialogs& dialogs_;
    platform::Window& window_;
    // The notes of the release being installed, for the alert that ends it.
    std::optional<std::string> notes_;
};

}  // namespace corvidale::updater
