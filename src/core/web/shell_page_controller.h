#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/platform/application.h"
#include "core/platform/main_queue.h"
#include "core/platform/web_view.h"
#include "shell_page.h"

namespace corvidale {

// What the window shows when the web application cannot show itself: after
// its page's process died, the page again; when it dies again soon after, the
// shell's own page, whose button (like Reload) loads the application anew.
class ShellPageController {
public:
    // `originURL` is what the button loads when the window had shown nothing yet.
    ShellPageController(platform::WebView& web, platform::Application& application, platform::MainQueue& queue,
                        std::string originURL);

    // Shows `page` in place of the web application; its button, and Reload,
    // load `retryURL`.
    void show(const ShellPage& page, const std::string& retryURL);
    // The Reload command: leaves the shell's page when it shows.
    void reload();
    // Whether `action` follows the shown page's button. It does nothing more
    // here: the application loads again once the engine is done with the
    // navigation, which the caller cancels.
    bool follow(const platform::NavigationAction& action);
    void webContentProcessDidTerminate();

private:
    void leave();

    platform::WebView& web_;
    platform::Application& application_;
    platform::MainQueue& queue_;
    std::string originURL_;
    struct Shown {
        ShellPage page;
        std::string actionURL;
        std::string retryURL;
    };
    std::optional<Shown> shown_;
    // The page's process died a short while ago: another death means a
    // reload will not help.
    bool recentTermination_ = false;
    std::uint64_t terminationNumber_ = 0;
    // Jobs that come back later hold this weakly: they do nothing once the
    // controller is gone.
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace corvidale
