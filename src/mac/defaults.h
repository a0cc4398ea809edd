#pragma once

#include "core/platform/defaults.h"

namespace corvidale::mac {

// NSUserDefaults' standard defaults. Its argument domain ("-key value" on
// the command line) already overrides the stored values for one run.
class StandardDefaults final : public platform::Defaults {
public:
    std::optional<std::string> string(std::string_view key) const override;
    bool boolean(std::string_view key) const override;
    void setString(std::string_view key, std::string_view value) override;
    void setBoolean(std::string_view key, bool value) override;
};

}  // namespace corvidale::mac
