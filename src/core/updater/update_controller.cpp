#include "update_controller.h"

#include <algorithm>
#include <utility>

#include "pipeline.h"
#include "relaunch.h"

namespace corvidale::updater {
namespace {

constexpr double kFirstAutomaticCheckSeconds = 5.0;
constexpr double kAutomaticCheckIntervalSeconds = 21600.0;

}  // namespace

UpdateController::UpdateController(platform::Platform& platform, UpdateReporter& reporter, bool alwaysAutomatic,
                                   std::shared_ptr<Installer> installer)
    : platform_(platform), reporter_(reporter), alwaysAutomatic_(alwaysAutomatic), installer_(std::move(installer)) {}

void UpdateController::checkInteractively() {
    checkForNewerRelease(
        platform_,
        [this, alive = std::weak_ptr<int>(lifetime_)](CheckOutcome outcome) {
            if (alive.expired()) return;
            const bool autoUpdate = platform_.defaults().boolean(kAutoUpdateKey);
            reporter_.showCheckOutcome(outcome, autoUpdate, [this, alive, release = outcome.release](auto answer) {
                if (alive.expired()) return;
                platform_.defaults().setBoolean(kAutoUpdateKey, answer.autoUpdate);
                scheduleAutoUpdate();
                if (release && answer.install) installUpdate(*release, false);
            });
        },
        installedBuild_);
}

void UpdateController::scheduleAutoUpdate() {
    ++arming_;
    if (timer_) timer_->invalidate();
    timer_.reset();

    if (!alwaysAutomatic_ && !platform_.defaults().boolean(kAutoUpdateKey)) return;
    if (!feedURL(platform_)) return;

    const std::weak_ptr<int> alive = lifetime_;
    platform_.mainQueue().after(kFirstAutomaticCheckSeconds, [this, alive, arming = arming_] {
        // A later arming brought its own first check.
        if (!alive.expired() && arming == arming_) runAutoUpdate();
    });
    timer_ = platform_.mainQueue().repeating(kAutomaticCheckIntervalSeconds, [this, alive] {
        if (!alive.expired()) runAutoUpdate();
    });
}

void UpdateController::runAutoUpdate() {
    // The check would only find the release being installed.
    if (installing_) return;
    checkForNewerRelease(
        platform_,
        [this, alive = std::weak_ptr<int>(lifetime_)](CheckOutcome outcome) {
            if (alive.expired()) return;
            // An error counts as nothing newer, and so does a release whose
            // rollout has not reached this installation yet.
            if (outcome.release && takesNow(*outcome.release)) {
                installUpdate(*outcome.release, true);
            } else {
                reporter_.automaticCheckFoundNothing();
            }
        },
        installedBuild_);
}

bool UpdateController::takesNow(const Release& release) {
    if (release.rollout.form == Rollout::Form::None) return true;
    const auto decision =
        rolloutDecision(release.rollout, rolloutPosition(platform_.defaults()), platform_.secondsSince1970());
    if (decision == RolloutDecision::Malformed) {
        platform_.process().systemLog("auto update held back: the feed's rollout for build " +
                                      std::to_string(release.build) + " is malformed");
    }
    return decision == RolloutDecision::Take;
}

void UpdateController::installUpdate(const Release& release, bool automatic) {
    // A second request for an installation while one runs (a manual "Update
    // Now", an automatic check finding the same release) starts nothing.
    if (installing_) return;
    // An offer answered after the automatic check installed the same build
    // (an alert does not stop the main loop everywhere): nothing is left to
    // do but say so.
    if (installedBuild_ && release.build <= *installedBuild_) {
        reporter_.installationSucceeded({installedVersion_, *installedBuild_}, automatic, relaunchAction());
        return;
    }
    installing_ = true;
    reporter_.installationStarted(release);

    auto& queue = platform_.mainQueue();
    auto target = installTarget(platform_);
    target.runningBuild = std::max(target.runningBuild, installedBuild_.value_or(target.runningBuild));
    platform_.runInBackground([installer = installer_, release, target = std::move(target), &queue,
                               alive = std::weak_ptr<int>(lifetime_), this, automatic] {
        std::exception_ptr error;
        InstalledApp installed;
        try {
            installed = installer->installRelease(release, target);
        } catch (...) {
            error = std::current_exception();
        }
        queue.post([alive, this, installed, automatic, error] {
            if (!alive.expired()) finishInstallation(installed, automatic, error);
        });
    });
}

void UpdateController::finishInstallation(const InstalledApp& installed, bool automatic, std::exception_ptr error) {
    installing_ = false;
    if (error) {
        reporter_.installationFailed(error, automatic);
        return;
    }
    // Until the relaunch, checks compare with what is installed now, as the
    // new bundle itself says.
    if (!installedBuild_ || installed.build > *installedBuild_) {
        installedBuild_ = installed.build;
        installedVersion_ = installed.version;
    }
    reporter_.installationSucceeded(installed, automatic, relaunchAction());
}

std::function<void()> UpdateController::relaunchAction() {
    return [this, alive = std::weak_ptr<int>(lifetime_)] {
        if (!alive.expired()) relaunch(platform_);
    };
}

}  // namespace corvidale::updater
