#include <string>
#include <utility>

#include "core/app/delegate.h"
#include "feed.h"
#include "failure.h"
#include "installer.h"
#include "version.h"

namespace corvidale {
namespace {

constexpr double kFirstAutomaticCheckSeconds = 5.0;
constexpr double kAutomaticCheckIntervalSeconds = 21600.0;
constexpr const char* kAutoUpdateKey = "autoUpdate";
constexpr const char* kUpdateSelfTestKey = "updateSelfTest";

// The end of an automatic check that installs nothing: silent, except that
// the update self-test reports it and ends the process.
void automaticCheckFoundNothing(platform::Platform& platform) {
    if (!platform.defaults().boolean(kUpdateSelfTestKey)) return;
    platform.process().writeStdout("UPDATE SELFTEST: nothing newer than " +
                                   std::to_string(Updater::currentBuild(platform.bundle())));
    platform.process().exit(1);
}

// The automatic check holds the Delegate weakly: once it is gone, the check
// counts as having found nothing.
void startAutomaticCheck(platform::Platform& platform, const std::weak_ptr<int>& alive, Delegate* delegate) {
    if (alive.expired()) {
        automaticCheckFoundNothing(platform);
        return;
    }
    delegate->runAutoUpdate();
}

platform::AlertContent checkAlert(const Updater::CheckOutcome& outcome, const platform::Bundle& bundle,
                                  bool autoUpdate) {
    const std::string running =
        Updater::currentVersion(bundle) + " (" + std::to_string(Updater::currentBuild(bundle)) + ")";
    platform::AlertContent alert;
    if (outcome.error) {
        alert.messageText = "Couldn't check for updates";
        alert.informativeText = Updater::describe(outcome.error).localizedDescription;
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
    }
    alert.checkbox = platform::Checkbox{"Update automatically when a new version is released", autoUpdate};
    return alert;
}

}  // namespace

void Delegate::checkForUpdates() { checkInteractively(); }

void Delegate::checkInteractively() {
    Updater::newerRelease(
        platform_,
        [this, alive = std::weak_ptr<int>(lifetime_)](Updater::CheckOutcome outcome) {
            if (alive.expired()) return;
            showCheckOutcome(outcome);
        },
        installedBuild_);
}

void Delegate::showCheckOutcome(const Updater::CheckOutcome& outcome) {
    const auto alert = checkAlert(outcome, platform_.bundle(), platform_.defaults().boolean(kAutoUpdateKey));
    platform_.dialogs().showAlert(
        alert, platform::Presentation::ApplicationModal,
        [this, alive = std::weak_ptr<int>(lifetime_), release = outcome.release](platform::AlertResult result) {
            if (alive.expired()) return;
            platform_.defaults().setBoolean(kAutoUpdateKey, result.checked);
            scheduleAutoUpdate();
            if (release && result.response == platform::kAlertFirstButtonReturn) installUpdate(*release, false);
        });
}

void Delegate::scheduleAutoUpdate() {
    ++autoUpdateArming_;
    if (autoUpdateTimer) autoUpdateTimer->invalidate();
    autoUpdateTimer.reset();

    auto& defaults = platform_.defaults();
    if (!defaults.boolean(kAutoUpdateKey) && !defaults.boolean(kUpdateSelfTestKey)) return;
    if (!Updater::feedURL(platform_)) return;

    const std::weak_ptr<int> alive = lifetime_;
    auto& platform = platform_;
    platform_.mainQueue().after(kFirstAutomaticCheckSeconds, [&platform, alive, this, arming = autoUpdateArming_] {
        // A later arming brought its own first check.
        if (!alive.expired() && arming != autoUpdateArming_) return;
        startAutomaticCheck(platform, alive, this);
    });
    autoUpdateTimer = platform_.mainQueue().repeating(
        kAutomaticCheckIntervalSeconds, [&platform, alive, this] { startAutomaticCheck(platform, alive, this); });
}

void Delegate::runAutoUpdate() {
    // The check would only find the release being installed.
    if (installing_) return;
    auto& platform = platform_;
    Updater::newerRelease(platform_, [&platform, alive = std::weak_ptr<int>(lifetime_),
                                      this](Updater::CheckOutcome outcome) {
        // An error counts as nothing newer; it is not shown and not logged.
        if (!alive.expired() && outcome.release) {
            installUpdate(*outcome.release, true);
            return;
        }
        automaticCheckFoundNothing(platform);
    }, installedBuild_);
}

}  // namespace corvidale
