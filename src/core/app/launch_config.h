#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/platform/bundle.h"
#include "core/platform/defaults.h"
#include "core/util/url.h"
#include "core/web/app_origin.h"

namespace corvidale {

inline constexpr std::string_view kDefaultOrigin = "https://app.corvidale.com";
inline constexpr std::string_view kDefaultBuildStamp = "dev";

inline constexpr std::string_view kOriginInfoKey = "CorvidaleOrigin";
inline constexpr std::string_view kOriginEnvironmentVariable = "CORVIDALE_ORIGIN";
inline constexpr std::string_view kBuildInfoKey = "CorvidaleBuild";
inline constexpr std::string_view kBuildEnvironmentVariable = "CORVIDALE_STAMP";
inline constexpr std::string_view kDownloadSelfTestKey = "downloadSelfTest";
inline constexpr std::string_view kUpdateSelfTestKey = "updateSelfTest";
inline constexpr std::string_view kURLSchemeInfoKey = "CorvidaleURLScheme";

// Info.plist non-empty string, else the environment variable (even empty),
// else the built-in default.
std::string configuredText(const platform::Bundle& bundle, const platform::Environment& environment,
                           std::string_view infoKey, std::string_view variable, std::string_view fallback);


// What the shell was launched with. Read once: the sources do not change while
// the process runs, and nothing that answers the page may end it.
struct LaunchConfig {
    // The web application's origin, the one answer to "is this the
    // application's own?"; nullopt when `originText` is no valid origin,
    // which ends the run at the load.
    std::optional<AppOrigin> appOrigin;
    std::string originText;
    std::string buildStamp;
    // The unattended self-test modes, switched on by user defaults.
    bool downloadSelfTest = false;
    bool updateSelfTest = false;
    // The scheme of the links that open the application, from the build;
    // nullopt when the bundle names none or one that is no scheme.
    std::optional<std::string> urlScheme;
};

LaunchConfig readLaunchConfig(const platform::Bundle& bundle, const platform::Environment& environment,
                              const platform::Defaults& defaults);

}  // namespace corvidale
