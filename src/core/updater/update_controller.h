#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "core/platform/platform.h"
#include "core/platform/timers.h"
#include "feed.h"
#include "install_target.h"
#include "update_reporter.h"

namespace corvidale::updater {

inline constexpr const char* kAutoUpdateKey = "autoUpdate";

// The manual check, the automatic schedule and one installation at a time.
// It decides; the reporter shows. Main thread only.
class UpdateController {
public:
    // `alwaysAutomatic`: the automatic check runs whatever the user chose (an
    // unattended run). `installer`: the installation pipeline when empty.
    UpdateController(platform::Platform& platform, UpdateReporter& reporter, bool alwaysAutomatic,
                     Installer installer = {});

    // The check the user asked for; it ends with its outcome shown.
    void checkInteractively();
    // Arms the automatic check (5 s from now, then every 6 hours) when it is
    // on and there is a feed; disarms an earlier arming either way.
    void scheduleAutoUpdate();
    void installUpdate(const Release& release, bool automatic);

private:
    void runAutoUpdate();
    // Whether an automatic check takes this release now, as its rollout says.
    bool takesNow(const Release& release);
    void finishInstallation(const InstalledApp& installed, bool automatic, std::exception_ptr error);
    std::function<void()> relaunchAction();

    platform::Platform& platform_;
    UpdateReporter& reporter_;
    const bool alwaysAutomatic_;
    const Installer installer_;
    // The automatic check's timers; each arming cancels the last one's.
    platform::TimerOwner arming_;
    bool installing_ = false;
    // The newest build installed since launch: the running bundle's Info.plist
    // still names the old one, and the next check must not fetch this again.
    std::optional<std::int64_t> installedBuild_;
    std::string installedVersion_;
    // Completions that come back later do nothing once the controller is gone.
    platform::TimerOwner jobs_;
};

}  // namespace corvidale::updater
