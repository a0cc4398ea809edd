#pragma once

#include <memory>
#include <string>

#include "core/platform/main_queue.h"
#include "core/platform/web_view.h"

namespace corvidale {

inline constexpr unsigned kConsoleLinesPerMinute = 20;

// The page's console, where its developers look for why the shell did not do
// what the page asked.
class PageConsole {
public:
    PageConsole(platform::WebView& web, platform::MainQueue& queue) : web_(web), queue_(queue) {}

    // A warning line. A page that asks thousands of times is told why
    // kConsoleLinesPerMinute times a minute, instead of having a script queued
    // for each.
    void warn(const std::string& line);

private:
    platform::WebView& web_;
    platform::MainQueue& queue_;
    // Lines told in the last minute; each leaves the count a minute after it came.
    std::shared_ptr<unsigned> recentLines_ = std::make_shared<unsigned>(0);
};

}  // namespace corvidale
