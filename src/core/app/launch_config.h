#pragma once

#include <string>
#include <string_view>

#include "core/platform/platform.h"
#include "core/util/url.h"

namespace corvidale {

inline constexpr std::string_view kDefaultOrigin = "https://app.corvidale.com";
inline constexpr std::string_view kDefaultBuildStamp = "dev";
inline constexpr std::string_view kShellBundleIdentifier = "com.corvidale.desktop";

inline constexpr std::string_view kOriginInfoKey = "CorvidaleOrigin";
inline constexpr std::string_view kOriginEnvironmentVariable = "CORVIDALE_ORIGIN";
inline constexpr std::string_view kBuildInfoKey = "CorvidaleBuild";
inline constexpr std::string_view kBuildEnvironmentVariable = "CORVIDALE_STAMP";

// Info.plist non-empty string, else the environment variable (even empty),
// else the built-in default.
std::string configuredText(const platform::Bundle& bundle, const platform::Environment& environment,
                           std::string_view infoKey, std::string_view variable, std::string_view fallback);

// Parses, scheme "https" in any case, has a host with an engine form
// (Url::canonicalHost).
bool isValidOrigin(std::string_view text);

// The web application's origin, looked up and validated afresh on every call,
// its scheme written small.
// On an invalid origin it writes the diagnostic and ends the process with 2.
Url appOrigin(platform::Platform& platform);

std::string buildStamp(platform::Platform& platform);

}  // namespace corvidale
