#pragma once

#include <string_view>

#include "core/platform/web_view.h"

namespace corvidale {

inline constexpr std::string_view kThemeHandlerName = "corvidaleTheme";
inline constexpr std::string_view kLastAppThemeKey = "lastAppTheme";

// The script that reports the page's light/dark class to the shell; built
// once and shared.
const platform::UserScript& themeUserScript();

}  // namespace corvidale
