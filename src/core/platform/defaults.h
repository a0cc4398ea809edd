#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvidale::platform {

// The standard user defaults: persistent per-application preferences, with an
// argument domain ("-key value" on the command line) that overrides them for
// one run.
class Defaults {
public:
    virtual ~Defaults() = default;
    virtual std::optional<std::string> string(std::string_view key) const = 0;
    // Absent or unreadable keys read as false, as on the desktop platforms.
    virtual bool boolean(std::string_view key) const = 0;
    virtual void setString(std::string_view key, std::string_view value) = 0;
    virtual void setBoolean(std::string_view key, bool value) = 0;
};

}  // namespace corvidale::platform
