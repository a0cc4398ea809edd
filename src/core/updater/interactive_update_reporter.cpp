#include "interactive_update_reporter.h"

#include <string>
#include <utility>

#include "failure.h"
#include "version.h"

namespace corvidale::updater {
namespace {

constexpr const char* kWindowTitle = "Corvidale";

platform::AlertContent checkAlert(const CheckOutcome& outcome, const platform::Bundle& bundle, bool autoUpdate) {
    const std::string running = currentVersion(bundle) + " (" + std::to_string(currentBuild(bundle)) + ")";
    platform::AlertContent alert;
    if (outcome.error) {
        alert.messageText = "Couldn't check for updates";
        alert.informativeText = describe(outcome.error).localizedDescription;
        alert.buttons = {"OK"};
    } else if (!outcome.release) {
        alert.messageText = "Corvidale is up to date";
        alert.informativeText = "You have the latest version, " + running + ".";
        alert.buttons = {"OK"};
    } else {
        alert.messageText = "Corvidale " + outcome.release->version + " is available";
        alert.informativeText =
            "You have " + running + ". The update is downloaded, checked and installed; Corvidale then relaunches.";
        alert.buttons = {"Update Now", "Later"};
        alert.notes = outcome.release->notes;
    }
    alert.checkbox = platform::Checkbox{"Update automatically when a new version is released", autoUpdate};
    return alert;
}

}  // namespace

void InteractiveUpdateReporter::showCheckOutcome(const CheckOutcome& outcome, bool autoUpdate,
                                                 std::function<void(CheckAnswer)> answer) {
    dialogs_.showAlert(checkAlert(outcome, bundle_, autoUpdate), platform::Presentation::ApplicationModal,
                       [answer = std::move(answer)](platform::AlertResult result) {
                           answer({result.response == platform::kAlertFirstButtonReturn, result.checked});
                       });
}

void InteractiveUpdateReporter::installationStarted(const Release& release) {
    window_.setTitle(std::string(kWindowTitle) + " — updating to " + release.version + "\u2026");
    notes_ = release.notes;
}

void InteractiveUpdateReporter::installationSucceeded(const InstalledApp& installed, bool automatic,
                                                      std::function<void()> relaunch) {
    window_.setTitle(kWindowTitle);
    platform::AlertContent alert;
    alert.messageText = automatic ? "Corvidale was updated to " + installed.version
                                  : "Corvidale " + installed.version + " is installed";
    alert.informativeText = "Relaunch to start using it.";
    alert.notes = notes_;
    alert.buttons = {"Relaunch Now", "Later"};
    dialogs_.showAlert(alert, platform::Presentation::ApplicationModal,
                       [relaunch = std::move(relaunch)](platform::AlertResult result) {
                           if (result.response == platform::kAlertFirstButtonReturn) relaunch();
                       });
}

void InteractiveUpdateReporter::installationFailed(std::exception_ptr error, bool automatic) {
    window_.setTitle(kWindowTitle);
    const auto report = describe(error);
    if (automatic) {
        process_.systemLog("auto update failed: " + report.diagnostic);
        return;
    }
    platform::AlertContent alert;
    alert.messageText = "The update wasn't installed";
    alert.informativeText = report.localizedDescription;
    alert.buttons = {"OK"};
    dialogs_.showAlert(alert, platform::Presentation::ApplicationModal, [](platform::AlertResult) {});
}

}  // namespace corvidale::updater
