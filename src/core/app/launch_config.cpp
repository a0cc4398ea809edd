#include "launch_config.h"

namespace corvidale {

std::string configuredText(const platform::Bundle& bundle, const platform::Environment& environment,
                           std::string_view infoKey, std::string_view variable, std::string_view fallback) {
    if (auto value = bundle.infoValue(infoKey); value && value->isNonEmptyString()) return value->text;
    if (auto value = environment.get(variable)) return *value;
    return std::string(fallback);
}

bool isValidOrigin(std::string_view text) {
    auto url = Url::parse(text);
    // A host with no engine form could never match a host the engine reports.
    return url && url->scheme() == "https" && url->canonicalHost().has_value();
}

Url appOrigin(platform::Platform& platform) {
    const auto text = configuredText(platform.bundle(), platform.environment(), kOriginInfoKey,
                                     kOriginEnvironmentVariable, kDefaultOrigin);
    if (!isValidOrigin(text)) {
        platform.process().writeStderr("CORVIDALE_ORIGIN must be an https URL: " + text);
        platform.process().exit(2);
    }
    // Schemes know no case; the engine and every comparison here take the
    // small one.
    const auto written = Url::parse(text);
    return *Url::parse(written->scheme() + text.substr(written->writtenScheme().size()));
}

std::string buildStamp(platform::Platform& platform) {
    return configuredText(platform.bundle(), platform.environment(), kBuildInfoKey, kBuildEnvironmentVariable,
                          kDefaultBuildStamp);
}

}  // namespace corvidale
