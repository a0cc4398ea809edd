#pragma once

#include <optional>
#include <string>

#include "core/platform/navigation.h"
#include "core/platform/process.h"
#include "core/platform/timers.h"
#include "core/platform/web_view.h"
#include "app_origin.h"
#include "shell_page_controller.h"

namespace corvidale {

// Why the application's server could not be reached, as a person would put it.
enum class ReachProblem { NoNetwork, NameNotFound, Refused, ConnectionLost, TimedOut, Insecure };

// Whether a failed load's error is one of the ways the server can be out of
// reach; nullopt for anything else (a cancelled load, a refused policy, a
// server that answered).
std::optional<ReachProblem> reachProblemOf(const std::string& domain, long code);

// The screen that stands in for the application while it is out of reach.
ShellPage unreachablePage(const std::string& host, ReachProblem problem);

// Retries wait 2 s, then twice as long each time, up to a minute.
inline constexpr double kFirstRetrySeconds = 2.0;
inline constexpr double kLongestRetrySeconds = 60.0;
double nextRetryDelay(double delaySeconds);

// When a page of the application's origin (its scheme, host and port) can't
// be reached, shows the shell's own screen in its place and keeps trying:
// after each back-off, and sooner when the system says the network came
// back, though never sooner after the last try than the wait before it.
class ReachController {
public:
    ReachController(platform::WebView& web, platform::MainQueue& queue, platform::Process& process,
                    ShellPageController& shellPage, const AppOrigin& origin);

    // Answers whether the screen took the failed load's place.
    bool didFailNavigation(const platform::LoadFailure& failure);
    // A page finished loading: unless it is the screen itself, the back-off
    // starts over. Answers whether it was a page of the application.
    bool didFinishNavigation();
    void networkChanged(bool available);
    // The window goes elsewhere on the user's behalf (a link that opens the
    // app): the failed URL is no longer where the user was going.
    void leave();

private:
    void retry();
    void startOver();

    platform::WebView& web_;
    platform::Process& process_;
    ShellPageController& shellPage_;
    const AppOrigin& origin_;
    // The URL whose load the screen stands in for, while it shows.
    std::optional<std::string> failedURL_;
    // The engine put the screen in the failed load's place, so that a reload
    // loads that URL again.
    bool screenInPlace_ = true;
    double delay_ = kFirstRetrySeconds;
    // The wait before the last try: how soon after it "network back" may try again.
    double lastDelay_ = kFirstRetrySeconds;
    // Whether that much time has passed since the last try, and whether the
    // network came back meanwhile, which is then tried at once.
    bool earlyRetryAllowed_ = false;
    bool networkCameBack_ = false;
    // As the system last said; a retry is due only when it changes to yes.
    bool networkAvailable_ = true;
    // The timers of the retry now due; cancelled whenever it is tried or no
    // longer needed.
    platform::TimerOwner retries_;
};

}  // namespace corvidale
