#include "file_manager.h"

#include <fcntl.h>
#include <glib.h>
#include <stdio.h>

#include <cerrno>
#include <filesystem>

#include "bundle.h"
#include "core/util/tree.h"

namespace corvidale::gtk {

std::string LocalFileManager::temporaryDirectory() {
    std::error_code error;
    const auto folder = std::filesystem::temp_directory_path(error);
    return error ? std::string("/tmp") : folder.string();
}

std::string LocalFileManager::cachesDirectory() { return g_get_user_cache_dir(); }

std::optional<platform::Error> LocalFileManager::replaceItem(const std::string& originalItem,
                                                             const std::string& newItem) {
    // One atomic exchange: at every instant the original path holds a whole
    // item, the old one or the new one. Only then is the old one removed; a
    // crash before that leaves it at the new item's path, where the next
    // installation finds and removes it.
    if (::renameat2(AT_FDCWD, newItem.c_str(), AT_FDCWD, originalItem.c_str(), RENAME_EXCHANGE) != 0) {
        return platform::posixError(errno);
    }
    removeTreeQuietly(newItem);
    return std::nullopt;
}

std::variant<std::unique_ptr<platform::Bundle>, platform::Error> LocalFileManager::bundleAt(
    const std::string& bundlePath) {
    const std::string path = infoPlistPath(bundlePath);
    auto read = InfoPlist::fromFile(path);
    if (const int* code = std::get_if<int>(&read)) return platform::posixError(*code, path);
    return std::make_unique<GtkBundle>(bundlePath, std::get<InfoPlist>(std::move(read)));
}

}  // namespace corvidale::gtk
