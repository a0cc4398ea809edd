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

void InteractiveUpdateReporter::installationStarted(const Release& release, bool automatic,
                                                    std::function<void()> cancel) {
    window_.setTitle(std::string(kWindowTitle) + " — updating to " + release.version + "\u2026");
    notes_ = release.notes;
    version_ = release.version;
    downloaded_ = {};
    endProgress();
    // An automatic installation shows on the launcher only.
    row_ = board_.start(!automatic, std::move(cancel));
    installationProgressed(downloaded_);
}

void InteractiveUpdateReporter::installationProgressed(const InstallProgress& progress) {
    if (!row_) return;
    using Stage = InstallProgress::Stage;
    Progress shown;
    if (progress.stage == Stage::Downloading) {
        downloaded_ = progress;
        shown.text = "Downloading Corvidale " + version_ + " \u2014 " + byteCount(progress.received);
        if (progress.expected) shown.text += " of " + byteCount(*progress.expected);
    } else {
        shown.text = progress.stage == Stage::Checking ? "Checking\u2026" : "Installing\u2026";
        shown.barMoves = true;
        shown.cancellable = progress.stage == Stage::Checking;
    }
    shown.done = downloaded_.received;
    shown.total = downloaded_.expected;
    shown.cancelName = "Cancel the update";
    board_.update(*row_, std::move(shown));
}

void InteractiveUpdateReporter::endProgress() {
    if (row_) board_.finish(*row_);
    row_.reset();
}

void InteractiveUpdateReporter::installationCancelled() {
    endProgress();
    window_.setTitle(kWindowTitle);
    process_.systemLog("update cancelled by the user");
}

void InteractiveUpdateReporter::installationSucceeded(const InstalledApp& installed, bool automatic,
                                                      std::function<void()> relaunch) {
    endProgress();
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
    endProgress();
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
