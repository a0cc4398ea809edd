#pragma once

#include <exception>
#include <functional>

#include "feed.h"
#include "install_target.h"

namespace corvidale::updater {

// What the user chose when a check they asked for ended.
struct CheckAnswer {
    bool install = false;
    // Whether updates are to be looked for and installed automatically from now on.
    bool autoUpdate = false;
};

// How the update flow's outcomes are shown: to the user, or as the unattended
// self-test's line and exit status. It decides nothing. Main thread only.
class UpdateReporter {
public:
    virtual ~UpdateReporter() = default;
    // The end of a check the user asked for, while automatic updates are
    // `autoUpdate`; `answer` runs once the user has chosen.
    virtual void showCheckOutcome(const CheckOutcome& outcome, bool autoUpdate,
                                  std::function<void(CheckAnswer)> answer) = 0;
    // An automatic check ended without an installation, failed ones too.
    virtual void automaticCheckFoundNothing() = 0;
    // `cancel` stops the installation while it downloads and checks.
    virtual void installationStarted(const Release& release, bool automatic, std::function<void()> cancel) = 0;
    virtual void installationProgressed(const InstallProgress& progress) = 0;
    // Stopped as the user asked, nothing changed.
    virtual void installationCancelled() = 0;
    // `relaunch` ends this process and starts the installed app in its place.
    virtual void installationSucceeded(const InstalledApp& installed, bool automatic,
                                       std::function<void()> relaunch) = 0;
    virtual void installationFailed(std::exception_ptr error, bool automatic) = 0;
};

}  // namespace corvidale::updater
