#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "bundle.h"
#include "error.h"

namespace corvidale::platform {

// The file operations the updater needs, shaped like the system's file
// manager. Every call is safe from any thread: the installation runs on a
// worker.
class FileManager {
public:
    virtual ~FileManager() = default;
    // The folder for temporary items.
    virtual std::string temporaryDirectory() = 0;
    // This user's folder for caches, which lasts from run to run and which
    // only this user can write: what one update run leaves for the next is
    // kept there. Empty when there is none.
    virtual std::string cachesDirectory() = 0;
    // Puts the item at `newItem` in place of the one at `originalItem`, with
    // no backup: afterwards the old item is gone and nothing is left at
    // `newItem`. An error leaves `originalItem` as the system left it.
    virtual std::optional<Error> replaceItem(const std::string& originalItem, const std::string& newItem) = 0;
    // The bundle at `bundlePath`, its Info.plist read once, or the system's
    // error when that file is there and cannot be read. An Info.plist that is
    // absent, is no property list or lies past the reader's bounds reads as
    // an empty one.
    virtual std::variant<std::unique_ptr<Bundle>, Error> bundleAt(const std::string& bundlePath) = 0;
};

}  // namespace corvidale::platform
