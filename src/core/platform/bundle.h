#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvidale::platform {

// The identifier the shell's own bundle is built with.
inline constexpr std::string_view kShellBundleIdentifier = "com.corvidale.desktop";

// One Info.plist value, with its property-list type kept: a number-valued key
// must not be mistaken for a string one.
struct PlistValue {
    enum class Kind { String, Number, Boolean, Date, Data, Array, Dictionary };
    Kind kind = Kind::String;
    std::string text;  // the string itself for Kind::String; a rendering otherwise

    bool isNonEmptyString() const { return kind == Kind::String && !text.empty(); }
};

class Bundle {
public:
    virtual ~Bundle() = default;
    // nullopt when the key is absent from the main bundle's Info.plist.
    virtual std::optional<PlistValue> infoValue(std::string_view key) const = 0;
    virtual std::optional<std::string> bundleIdentifier() const = 0;
    // File-system path of the running application's bundle directory.
    virtual std::string bundlePath() const = 0;
};

class Environment {
public:
    virtual ~Environment() = default;
    // nullopt when the variable is not set; an empty value is a value.
    virtual std::optional<std::string> get(std::string_view name) const = 0;
};

}  // namespace corvidale::platform
