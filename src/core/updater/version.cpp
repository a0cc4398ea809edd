#include "version.h"

#include <limits>

namespace corvidale::updater {

std::optional<std::int64_t> parseDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;

    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const int digit = c - '0';
        // Accumulating towards the sign's side reaches both extremes exactly.
        if (negative) {
            if (value < (kMin + digit) / 10) return std::nullopt;
            value = value * 10 - digit;
        } else {
            if (value > (kMax - digit) / 10) return std::nullopt;
            value = value * 10 + digit;
        }
    }
    return value;
}

std::string versionFromInfo(const std::optional<platform::PlistValue>& value) {
    if (value && value->kind == platform::PlistValue::Kind::String) return value->text;
    return "?";
}

std::int64_t buildFromInfo(const std::optional<platform::PlistValue>& value) {
    if (!value || value->kind != platform::PlistValue::Kind::String) return 0;
    return parseDecimal(value->text).value_or(0);
}

std::string currentVersion(const platform::Bundle& bundle) {
    return versionFromInfo(bundle.infoValue("CFBundleShortVersionString"));
}

std::int64_t currentBuild(const platform::Bundle& bundle) { return buildFromInfo(bundle.infoValue("CFBundleVersion")); }

}  // namespace corvidale::updater
