#include "launch_config.h"

#include <algorithm>

namespace corvidale {

std::string configuredText(const platform::Bundle& bundle, const platform::Environment& environment,
                           std::string_view infoKey, std::string_view variable, std::string_view fallback) {
    if (auto value = bundle.infoValue(infoKey); value && value->isNonEmptyString()) return value->text;
    if (auto value = environment.get(variable)) return *value;
    return std::string(fallback);
}


namespace {

bool isSmallLetter(char c) { return c >= 'a' && c <= 'z'; }

// A small letter first, then small letters, digits, "+", "-" and ".".
std::optional<std::string> urlScheme(const platform::Bundle& bundle) {
    const auto value = bundle.infoValue(kURLSchemeInfoKey);
    if (!value || !value->isNonEmptyString() || !isSmallLetter(value->text[0])) return std::nullopt;
    const bool valid = std::all_of(value->text.begin(), value->text.end(), [](char c) {
        return isSmallLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    });
    return valid ? std::optional(value->text) : std::nullopt;
}

}  // namespace

LaunchConfig readLaunchConfig(const platform::Bundle& bundle, const platform::Environment& environment,
                              const platform::Defaults& defaults) {
    LaunchConfig config;
    config.originText =
        configuredText(bundle, environment, kOriginInfoKey, kOriginEnvironmentVariable, kDefaultOrigin);
    config.buildStamp =
        configuredText(bundle, environment, kBuildInfoKey, kBuildEnvironmentVariable, kDefaultBuildStamp);
    config.downloadSelfTest = defaults.boolean(kDownloadSelfTestKey);
    config.updateSelfTest = defaults.boolean(kUpdateSelfTestKey);
    config.urlScheme = urlScheme(bundle);
    config.appOrigin = AppOrigin::parse(config.originText);
    return config;
}

}  // namespace corvidale
