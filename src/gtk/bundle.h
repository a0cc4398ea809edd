#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/platform/bundle.h"

namespace corvidale::gtk {

// The top-level entries of an Info.plist, read once. Anything that does not
// parse as a dictionary property list, or lies past plistWithinBounds, reads
// as an empty one; so does a file that is absent or not a regular one of its
// own.
class InfoPlist {
public:
    static InfoPlist fromBytes(std::string_view bytes);
    // The file at `path`, or the errno of a file there that cannot be read.
    static std::variant<InfoPlist, int> fromFile(const std::string& path);

    std::optional<platform::PlistValue> value(std::string_view key) const;
    bool empty() const;

private:
    // Looked up by name, never listed: listing reads every key with
    // plist_get_key_val(), which aborts on a key holding a NUL byte.
    std::shared_ptr<void> root_;
};

// The application is a directory laid out like a desktop bundle:
// <bundle>/Contents/MacOS/corvidale and <bundle>/Contents/Info.plist.
class GtkBundle final : public platform::Bundle {
public:
    GtkBundle();
    // For a bundle somewhere else than the running executable's; what cannot
    // be read of its Info.plist reads as nothing.
    explicit GtkBundle(std::string bundlePath);
    GtkBundle(std::string bundlePath, InfoPlist info);

    std::optional<platform::PlistValue> infoValue(std::string_view key) const override;
    std::optional<std::string> bundleIdentifier() const override;
    std::string bundlePath() const override { return path_; }

    // A string value, or nullopt when the key is absent or not a string.
    std::optional<std::string> infoString(std::string_view key) const;

private:
    std::string path_;
    InfoPlist info_;
};

// <bundle>/Contents/Info.plist.
std::string infoPlistPath(const std::string& bundlePath);

// The bundle directory of the running executable, or "" when /proc cannot tell.
std::string runningBundlePath();

class ProcessEnvironment final : public platform::Environment {
public:
    std::optional<std::string> get(std::string_view name) const override;
};

}  // namespace corvidale::gtk
