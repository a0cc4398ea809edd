#pragma once

#include <optional>
#include <string>

#include "core/platform/application.h"
#include "core/platform/navigation.h"
#include "core/platform/timers.h"
#include "core/platform/web_view.h"
#include "shell_page.h"

namespace corvidale {

// What the window shows when the web application cannot show itself: after
// its page's process died, the page again; when it dies again soon after, the
// shell's own page, whose button (like Reload) loads the application anew. The
// same page stands in for a load that failed (see ReachController).
class ShellPageController {
public:
    // `originURL` is what the button loads when the window had shown nothing yet.
    ShellPageController(platform::WebView& web, platform::Application& application, platform::MainQueue& queue,
                        std::string originURL);

    // Shows `page` in place of the web application; its button, and Reload,
    // load `retryURL`.
    void show(const ShellPage& page, const std::string& retryURL);
    // Shows `page` where the failed load of `failedURL` would have been, in
    // its place in the history; its button, and Reload, load it again there.
    // Answers whether the engine could put it in that place; where it could
    // not, the page is a document of its own, and leaving it loads
    // `failedURL` anew.
    bool showInPlaceOf(const ShellPage& page, const std::string& failedURL);
    bool isShowingInPlaceOf(const std::string& failedURL) const;
    // A page of the application has shown since: a screen shown in place of
    // a failed load is gone with it.
    void pageDidFinishLoading();
    // Loads `url` in place of whatever the window shows.
    void open(const std::string& url);
    // The Reload command: leaves the shell's page when it shows.
    void reload();
    // Whether `action` follows the shown page's button. It does nothing more
    // here: the application loads again once the engine is done with the
    // navigation, which the caller cancels.
    bool follow(const platform::NavigationAction& action);
    void webContentProcessDidTerminate();

private:
    void leave();
    void load(const ShellPage& page);

    platform::WebView& web_;
    platform::Application& application_;
    std::string originURL_;
    struct Shown {
        ShellPage page;
        std::string actionURL;
        std::string retryURL;
        // Shown for the failed load of retryURL, which leaving it tries again.
        bool inPlace = false;
        // The engine put it in that load's place, so a reload is that load.
        bool tookPlace = false;
    };
    std::optional<Shown> shown_;
    // The page's process died a short while ago: another death means a
    // reload will not help.
    bool recentTermination_ = false;
    // Forgets that death a while later; restarted by each new one.
    platform::TimerOwner terminationMemory_;
    platform::TimerOwner jobs_;
};

}  // namespace corvidale
