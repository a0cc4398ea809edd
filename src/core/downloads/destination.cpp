#include "destination.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "core/util/text.h"

namespace corvidale {
namespace {

std::string lastPathComponent(std::string_view name) {
    // Both separators: a name from a Windows server must not smuggle in a path either.
    const auto slash = name.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? name : name.substr(slash + 1));
}

std::string fit(const std::string& base, const std::string& suffix, std::size_t maxBytes) {
    if (base.size() + suffix.size() <= maxBytes) return base + suffix;
    if (suffix.size() >= maxBytes) {
        // An absurd extension: keep as much of the whole name as fits.
        const std::string whole = base + suffix;
        return whole.substr(0, utf8PrefixLength(whole, maxBytes));
    }
    return base.substr(0, utf8PrefixLength(base, maxBytes - suffix.size())) + suffix;
}

enum class Presence { Free, Taken, Unknown };

Presence presenceAt(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) return Presence::Taken;
    return errno == ENOENT ? Presence::Free : Presence::Unknown;
}

std::string join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

}  // namespace

std::string sanitizeFilename(std::string_view suggested, std::size_t maxBytes) {
    std::string name;
    for (char c : lastPathComponent(suggested)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) continue;
        name.push_back(c);
    }
    if (name.empty() || name == "." || name == "..") return "download";
    const auto parts = splitExtension(name);
    std::string fitted = fit(parts.base, parts.extension.empty() ? std::string() : "." + parts.extension, maxBytes);
    // A cut never splits a character, so a run of stray continuation bytes
    // can shrink to nothing, or to the dots before it.
    if (fitted.empty() || fitted == "." || fitted == "..") return "download";
    return fitted;
}

FilenameParts splitExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return {name, ""};
    return {name.substr(0, dot), name.substr(dot + 1)};
}

std::string numberedFilename(const FilenameParts& parts, unsigned long long number, std::size_t maxBytes) {
    std::string suffix = " " + std::to_string(number);
    if (!parts.extension.empty()) suffix += "." + parts.extension;
    return fit(parts.base, suffix, maxBytes);
}

Destination uniqueDestination(const std::string& folder, std::string_view suggested,
                              const std::function<bool(const std::string& path)>& reserved,
                              std::string_view temporarySuffix) {
    const std::size_t maxBytes =
        temporarySuffix.size() < kMaxFilenameBytes ? kMaxFilenameBytes - temporarySuffix.size() : 1;
    const std::string name = sanitizeFilename(suggested, maxBytes);
    const FilenameParts parts = splitExtension(name);
    const auto cannotExamine = [&folder] {
        return Destination{"", false, "the folder " + folder + " cannot be examined (" + std::strerror(errno) + ")"};
    };
    for (unsigned counter = 1; counter <= kMaxDestinationAttempts; ++counter) {
        const std::string path = join(folder, counter == 1 ? name : numberedFilename(parts, counter, maxBytes));
        if (reserved && reserved(path)) continue;
        Presence presence = presenceAt(path);
        if (presence == Presence::Free && !temporarySuffix.empty()) {
            presence = presenceAt(path + std::string(temporarySuffix));
        }
        if (presence == Presence::Unknown) return cannotExamine();
        if (presence == Presence::Taken) continue;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0) {
            ::close(fd);
            return {path, true, std::nullopt};
        }
        if (errno == EEXIST) continue;  // appeared since the check
        return cannotExamine();
    }
    return {"", false, "every name up to \"" + numberedFilename(parts, kMaxDestinationAttempts, maxBytes) +
                           "\" is taken in " + folder};
}

void releaseUnusedClaim(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0) ::unlink(path.c_str());
}

void removePartial(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::unlink(path.c_str());
}

}  // namespace corvidale
