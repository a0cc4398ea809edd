#include "update_controller.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "pipeline.h"
#include "relaunch.h"

namespace corvidale::updater {
namespace {

constexpr double kFirstAutomaticCheckSeconds = 5.0;
constexpr double kAutomaticCheckIntervalSeconds = 21600.0;

}  // namespace

UpdateController::UpdateController(platform::Platform& platform, UpdateReporter& reporter, bool alwaysAutomatic,
                                   Installer installer)
    : platform_(platform),
      reporter_(reporter),
      alwaysAutomatic_(alwaysAutomatic),
      installer_(installer ? std::move(installer)
                           : [](const Release& release, const InstallTarget& target) {
                                 return installRelease(release, target);
                             }),
      arming_(platform.mainQueue()),
      jobs_(platform.mainQueue()) {}

void UpdateController::checkInteractively() {
    checkForNewerRelease(
        platform_,
        jobs_.guard([this](CheckOutcome outcome) {
            const bool autoUpdate = platform_.defaults().boolean(kAutoUpdateKey);
            reporter_.showCheckOutcome(outcome, autoUpdate, jobs_.guard([this, release = outcome.release](auto answer) {
                platform_.defaults().setBoolean(kAutoUpdateKey, answer.autoUpdate);
                scheduleAutoUpdate();
                if (release && answer.install) installUpdate(*release, false);
            }));
        }),
        installedBuild_);
}

void UpdateController::scheduleAutoUpdate() {
    arming_.cancel();

    if (!alwaysAutomatic_ && !platform_.defaults().boolean(kAutoUpdateKey)) return;
    if (!feedURL(platform_)) return;

    arming_.after(kFirstAutomaticCheckSeconds, [this] { runAutoUpdate(); });
    arming_.repeating(kAutomaticCheckIntervalSeconds, [this] { runAutoUpdate(); });
}

void UpdateController::runAutoUpdate() {
    // The check would only find the release being installed.
    if (installing_) return;
    checkForNewerRelease(
        platform_,
        jobs_.guard([this](CheckOutcome outcome) {
            // An error counts as nothing newer, and so does a release whose
            // rollout has not reached this installation yet.
            if (outcome.release && takesNow(*outcome.release)) {
                installUpdate(*outcome.release, true);
            } else {
                reporter_.automaticCheckFoundNothing();
            }
        }),
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
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    reporter_.installationStarted(release, automatic, [cancelled] { cancelled->store(true); });

    auto target = installTarget(platform_);
    target.runningBuild = std::max(target.runningBuild, installedBuild_.value_or(target.runningBuild));
    target.cancelled = cancelled;
    // Told on the worker, shown on the main thread.
    target.progress = [&queue = platform_.mainQueue(), show = jobs_.guard([this](const InstallProgress& progress) {
                           if (installing_) reporter_.installationProgressed(progress);
                       })](const InstallProgress& progress) { queue.post([show, progress]() mutable { show(progress); }); };
    auto install = [install = installer_, release, target = std::move(target)] {
        std::pair<InstalledApp, std::exception_ptr> outcome;
        try {
            outcome.first = install(release, target);
        } catch (...) {
            outcome.second = std::current_exception();
        }
        return outcome;
    };
    platform::runInBackgroundThenPost(platform_, std::move(install), jobs_.guard([this, automatic](auto outcome) {
        finishInstallation(outcome.first, automatic, outcome.second);
    }));
}

void UpdateController::finishInstallation(const InstalledApp& installed, bool automatic, std::exception_ptr error) {
    installing_ = false;
    if (error) {
        try {
            std::rethrow_exception(error);
        } catch (const InstallCancelled&) {
            reporter_.installationCancelled();
            return;
        } catch (...) {
        }
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
    return jobs_.guard([this] { relaunch(platform_); });
}

}  // namespace corvidale::updater
