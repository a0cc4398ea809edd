#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "bundle.h"
#include "web_view.h"

namespace corvidale::platform {

// The file operations the updater needs, shaped like the system's file
// manager. Every call is safe from any thread: the installation runs on a
// worker.
class FileManager {
public:
    virtual ~FileManager() = default;
    // The folder for temporary items.
    virtual std::string temporaryDirectory() = 0;
    // Puts the item at `newItem` in place of the one at `originalItem`, with
    // no backup: afterwards the old item is gone and nothing is left at
    // `newItem`. An error leaves `originalItem` as the system left it.
    virtual std::optional<Error> replaceItem(const std::string& originalItem, const std::string& newItem) = 0;
    // The identifier in the Info.plist of the bundle at `bundlePath`; nullopt
    // when it has none or the path is no bundle.
    virtual std::optional<std::string> bundleIdentifierAt(const std::string& bundlePath) = 0;
    // A value of the Info.plist of the bundle at `bundlePath`; nullopt when
    // the key is absent or the path is no bundle.
    virtual std::optional<PlistValue> infoValueAt(const std::string& bundlePath, std::string_view key) = 0;
};

}  // namespace corvidale::platform
