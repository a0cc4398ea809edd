#include "fs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace corvidale::tools {
namespace {

bool plainByte(unsigned char byte) {
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
           std::strchr("._-+,@~/", byte) != nullptr;
}

}  // namespace

int runMain(const char* tool, const char* usage, int argc, char** argv,
            int (*command)(const std::vector<std::string>& arguments)) {
    try {
        return command(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& error) {
        std::fprintf(stderr, "%s: %s\n%s", tool, error.what(), usage);
        return 2;
    } catch (const PosixError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s %s: %s\n", tool, error.doing().c_str(), encodeName(error.path()).c_str(),
                     std::strerror(error.errorNumber()));
        return 1;
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", tool, error.what());
        return 1;
    }
}

std::string encodeName(std::string_view raw) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(raw.size());
    for (const char c : raw) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte != 0 && plainByte(byte)) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kDigits[byte >> 4]);
            out.push_back(kDigits[byte & 0xF]);
        }
    }
    return out;
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

struct stat statEntry(int dirFd, const std::string& name) {
    struct stat info {};
    if (::fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) throw PosixError(errno, "cannot examine", name);
    return info;
}

std::string linkTarget(int dirFd, const std::string& name) {
    char target[PATH_MAX + 1];
    const ssize_t length = ::readlinkat(dirFd, name.c_str(), target, sizeof target);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof target) {
        throw ToolError("cannot read the symbolic link " + encodeName(name));
    }
    return std::string(target, static_cast<std::size_t>(length));
}

void writeNewFile(int dirFd, const std::string& name, std::string_view data, mode_t mode) {
    Fd fd(::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd) throw PosixError(errno, "cannot create", name);
    // The umask must not decide the mode of a key or a signature file.
    if (::fchmod(fd.get(), mode) != 0) throw PosixError(errno, "cannot set the mode of", name);
    if (const int code = writeAll(fd.get(), data.data(), data.size()); code != 0)
        throw PosixError(code, "cannot write", name);
    if (::close(fd.release()) != 0) throw PosixError(errno, "cannot write", name);
}

}  // namespace corvidale::tools
