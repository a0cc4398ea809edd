#include <algorithm>
#include <string>
#include <utility>

#include "core/app/delegate.h"
#include "failure.h"
#include "feed.h"
#include "installer.h"
#include "pipeline.h"
#include "relaunch.h"

namespace corvidale {

void Delegate::installUpdate(const Updater::Release& release, bool automatic) {
    // A second request for an installation while one runs (a manual "Update
    // Now", an automatic check finding the same release) starts nothing.
    if (installing_) return;
    // An offer answered after the automatic check installed the same build
    // (an alert does not stop the main loop everywhere): nothing is left to
    // do but say so.
    if (installedBuild_ && release.build <= *installedBuild_) {
        finishInstallation({installedVersion_, *installedBuild_}, automatic, nullptr);
        return;
    }
    installing_ = true;
    if (!installer_) installer_ = Updater::makeInstaller();
    if (window) window->setTitle("Corvidale — updating to " + release.version + "\u2026");

    auto& queue = platform_.mainQueue();
    auto target = Updater::installTarget(platform_);
    target.runningBuild = std::max(target.runningBuild, installedBuild_.value_or(target.runningBuild));
    platform_.runInBackground([installer = installer_, release, target = std::move(target), &queue,
                               alive = std::weak_ptr<int>(lifetime_), this, automatic] {
        std::exception_ptr error;
        Updater::InstalledApp installed;
        try {
            installed = installer->installRelease(release, target);
        } catch (...) {
            error = std::current_exception();
        }
        queue.post([alive, this, installed, automatic, error] {
            if (alive.expired()) return;
            finishInstallation(installed, automatic, error);
        });
    });
}

void Delegate::finishInstallation(const Updater::InstalledApp& installed, bool automatic, std::exception_ptr error) {
    installing_ = false;
    if (window) window->setTitle("Corvidale");
    const bool selfTest = platform_.defaults().boolean("updateSelfTest");
    auto& process = platform_.process();

    if (!error) {
        // Until the relaunch, checks compare with what is installed now, as
        // the new bundle itself says.
        if (!installedBuild_ || installed.build > *installedBuild_) {
            installedBuild_ = installed.build;
            installedVersion_ = installed.version;
        }
        if (selfTest) {
            process.writeStdout("UPDATE SELFTEST: installed " + installed.version + " (" +
                                std::to_string(installed.build) + ") at " + platform_.bundle().bundlePath());
            process.exit(0);
        }
        platform::AlertContent alert;
        alert.messageText = automatic ? "Corvidale was updated to " + installed.version
                                      : "Corvidale " + installed.version + " is installed";
        alert.informativeText = "Relaunch to start using it.";
        alert.buttons = {"Relaunch Now", "Later"};
        platform_.dialogs().showAlert(alert, platform::Presentation::ApplicationModal,
                                      [this, alive = std::weak_ptr<int>(lifetime_)](platform::AlertResult result) {
                                          if (alive.expired()) return;
                                          if (result.response == platform::kAlertFirstButtonReturn) {
                                              Updater::relaunch(platform_);
                                          }
                                      });
        return;
    }

    const auto report = Updater::describe(error);
    if (selfTest) {
        process.writeStdout("UPDATE SELFTEST: failed — " + report.localizedDescription);
        process.exit(1);
    }
    if (automatic) {
        process.systemLog("auto update failed: " + report.diagnostic);
        return;
    }
    platform::AlertContent alert;
    alert.messageText = "The update wasn't installed";
    alert.informativeText = report.localizedDescription;
    alert.buttons = {"OK"};
    platform_.dialogs().showAlert(alert, platform::Presentation::ApplicationModal, [](platform::AlertResult) {});
}

}  // namespace corvidale
