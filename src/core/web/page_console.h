#pragma once

#include <string>

#include "core/platform/timers.h"
#include "core/platform/web_view.h"

namespace corvidale {

inline constexpr unsigned kConsoleLinesPerMinute = 20;

// The page's console, where its developers look for why the shell did not do
// what the page asked.
class PageConsole {
public:
    PageConsole(platform::WebView& web, platform::MainQueue& queue) : web_(web), lines_(queue, kConsoleLinesPerMinute) {}

    // A warning line. A page that asks thousands of times is told why
    // kConsoleLinesPerMinute times a minute, instead of having a script queued
    // for each.
    void warn(const std::string& line);

private:
    platform::WebView& web_;
    platform::PerMinuteAllowance lines_;
};

}  // namespace corvidale
