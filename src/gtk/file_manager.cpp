#include "file_manager.h"

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "bundle.h"
#include "core/updater/tools.h"

namespace corvidale::gtk {

std::string LocalFileManager::temporaryDirectory() {
    std::error_code error;
    const auto folder = std::filesystem::temp_directory_path(error);
    return error ? std::string("/tmp") : folder.string();
}

std::optional<platform::Error> LocalFileManager::replaceItem(const std::string& originalItem,
                                                             const std::string& newItem) {
    // One atomic exchange: at every instant the original path holds a whole
    // item, the old one or the new one. Only then is the old one removed; a
    // crash before that leaves it at the new item's path, where the next
    // installation finds and removes it.
    if (::renameat2(AT_FDCWD, newItem.c_str(), AT_FDCWD, originalItem.c_str(), RENAME_EXCHANGE) != 0) {
        const int code = errno;
        const std::string text = std::strerror(code);
        return platform::Error{text, "Error Domain=NSPOSIXErrorDomain Code=" + std::to_string(code) + " \"" + text +
                                         "\""};
    }
    // Read-only folders inside do not stop the removal; links are not followed.
    Updater::removeTree(newItem);
    return std::nullopt;
}

std::optional<std::string> LocalFileManager::bundleIdentifierAt(const std::string& bundlePath) {
    return GtkBundle(bundlePath).bundleIdentifier();
}

std::optional<platform::PlistValue> LocalFileManager::infoValueAt(const std::string& bundlePath, std::string_view key) {
    return GtkBundle(bundlePath).infoValue(key);
}

}  // namespace corvidale::gtk
