#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/platform/bundle.h"

namespace corvidale::updater {

// Build numbers as text: one optional sign, then ASCII digits only (leading
// zeros allowed), within the signed 64-bit range. Anything else has no value.
std::optional<std::int64_t> parseDecimal(std::string_view text);

// From the Info.plist values "CFBundleShortVersionString" and
// "CFBundleVersion": a version that is not a string shows as "?", a build
// that is not a decimal string counts as 0.
std::string versionFromInfo(const std::optional<platform::PlistValue>& value);
std::int64_t buildFromInfo(const std::optional<platform::PlistValue>& value);

// Read afresh from the main bundle on every call.
std::string currentVersion(const platform::Bundle& bundle);
std::int64_t currentBuild(const platform::Bundle& bundle);

// Only the build number decides; the version text is never compared.
inline bool isNewer(std::int64_t published, std::int64_t running) { return published > running; }

}  // namespace corvidale::updater
