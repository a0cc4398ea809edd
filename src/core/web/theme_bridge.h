#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/platform/application.h"
#include "core/platform/defaults.h"
#include "core/platform/timers.h"
#include "core/platform/process.h"
#include "core/platform/web_view.h"
#include "app_origin.h"

namespace corvidale {

inline constexpr std::string_view kThemeHandlerName = "corvidaleTheme";
inline constexpr std::string_view kLastAppThemeKey = "lastAppTheme";
// However often the page flips, the defaults file is written at most once in
// this long: the first theme at once, the last one at the end of the stretch.
inline constexpr double kThemeStoreIntervalSeconds = 1.0;

// The script that reports the page's light/dark class to the shell; built
// once and shared.
const platform::UserScript& themeUserScript();

// Makes the window's appearance follow the page's light or dark theme, and
// remembers it so that the next launch opens in it.
class ThemeBridge final : public platform::ScriptMessageHandler {
public:
    // Messages count only from the main frame of a document of `origin`.
    // Listens to `web`'s pages from the start.
    ThemeBridge(platform::Defaults& defaults, platform::Application& application, platform::Process& process,
                platform::MainQueue& queue, const AppOrigin& origin, platform::WebView& web);

    // The theme the page had when the shell last ran; dark the first time.
    void restoreLastTheme();
    void didReceiveScriptMessage(const platform::ScriptMessage& message) override;

private:
    void applyTheme(const std::string& theme);
    void store(std::string_view theme);
    void storeHeldBack();

    platform::Defaults& defaults_;
    platform::Application& application_;
    platform::Process& process_;
    const AppOrigin& origin_;
    // Within a stretch after a write: the theme to write at its end, if any.
    bool holding_ = false;
    std::optional<std::string> heldBack_;
    platform::TimerOwner timers_;
};

}  // namespace corvidale
