#pragma once

#include <glib.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/platform/defaults.h"
#include "glib_ptr.h"

namespace corvidale::gtk {

// The user defaults of one application: a GLib key file under the user's
// configuration folder, with the argument domain ("-key value" pairs from the
// command line) in front of it for this run only.
//
// A file that cannot be read is reported once and treated as empty. It is left
// alone until a value is written; then it is first moved aside to
// "<file>.corrupt" (or "<file>.corrupt.N") so that nothing in it is lost.
class KeyFileDefaults final : public platform::Defaults {
public:
    using Reporter = std::function<void(const std::string& line)>;

    KeyFileDefaults(std::string path, std::map<std::string, std::string> argumentDomain, Reporter report);
    KeyFileDefaults(const KeyFileDefaults&) = delete;
    KeyFileDefaults& operator=(const KeyFileDefaults&) = delete;

    std::optional<std::string> string(std::string_view key) const override;
    bool boolean(std::string_view key) const override;
    void setString(std::string_view key, std::string_view value) override;
    void setBoolean(std::string_view key, bool value) override;

    const std::string& path() const { return path_; }

    enum class LoadOutcome { Loaded, Missing, Unreadable };

private:
    LoadOutcome load(GKeyFile* into, std::string* problem) const;
    void write(std::string_view key, const std::string& value);
    bool moveAside();
    void reportOnce(const std::string& line);
    std::string unreadableMessage(const std::string& problem) const;

    std::string path_;
    std::map<std::string, std::string, std::less<>> argumentDomain_;
    Reporter report_;
    GLibPtr<GKeyFile, g_key_file_free> file_;
    bool reported_ = false;
};

// Where the defaults of the application with `bundleIdentifier` live.
std::string defaultsPathFor(std::string_view bundleIdentifier);

// How a stored or command-line text reads as a Boolean: YES, true and 1
// (any case) and every non-zero number are true; anything else is false.
bool defaultsBooleanValue(std::string_view text);

// Key names the key file can hold as they are.
bool isStorableKey(std::string_view key);

}  // namespace corvidale::gtk
