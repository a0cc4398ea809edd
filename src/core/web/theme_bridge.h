#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/platform/application.h"
#include "core/platform/defaults.h"
#include "core/platform/process.h"
#include "core/platform/web_view.h"

namespace corvidale {

inline constexpr std::string_view kThemeHandlerName = "corvidaleTheme";
inline constexpr std::string_view kLastAppThemeKey = "lastAppTheme";

// The script that reports the page's light/dark class to the shell; built
// once and shared.
const platform::UserScript& themeUserScript();

// Makes the window's appearance follow the page's light or dark theme, and
// remembers it so that the next launch opens in it.
class ThemeBridge final : public platform::ScriptMessageHandler {
public:
    // Messages count only from the main frame of `originHost` (in the engine's
    // form, Url::canonicalHost; nullopt: from nowhere).
    ThemeBridge(platform::Defaults& defaults, platform::Application& application, platform::Process& process,
                std::optional<std::string> originHost);

    // The theme the page had when the shell last ran; dark the first time.
    void restoreLastTheme();
    void didReceiveScriptMessage(const platform::ScriptMessage& message) override;

private:
    void applyTheme(const std::string& theme);

    platform::Defaults& defaults_;
    platform::Application& application_;
    platform::Process& process_;
    std::optional<std::string> originHost_;
};

}  // namespace corvidale
