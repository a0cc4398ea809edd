#include "set_aside.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>

namespace corvidale::gtk {
namespace {

// rename(2) that never replaces anything.
bool renameWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without RENAME_NOREPLACE: check, then rename.
    struct stat existing;
    if (::lstat(to.c_str(), &existing) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

std::optional<std::string> setAside(const std::string& path) {
    const std::string base = path + ".corrupt";
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const std::string target = attempt == 1 ? base : base + "." + std::to_string(attempt);
        if (renameWithoutReplacing(path, target)) return target;
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace corvidale::gtk
