#include "core/util/posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace corvidale {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

PosixError::PosixError(int code, std::string doing, std::string path)
    : std::system_error(code, std::generic_category(), doing + " " + path),
      doing_(std::move(doing)),
      path_(std::move(path)) {}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

int Fd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

Fd openDirectory(int at, const std::string& path, bool followLink) {
    Fd fd(::openat(at, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW)));
    if (!fd) throw PosixError(errno, "cannot open the directory", path);
    return fd;
}

std::vector<std::string> listDirectory(int dirFd, const std::string& name) {
    // readdir moves the position of the descriptor it reads: a copy of its
    // own keeps the caller's where it was.
    Fd copy(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::unique_ptr<DIR, DirCloser> dir(copy ? ::fdopendir(copy.get()) : nullptr);
    if (!dir) throw PosixError(errno, "cannot list", name);
    copy.release();
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) throw PosixError(errno, "cannot list", name);
            break;
        }
        const std::string_view entryName = entry->d_name;
        if (entryName != "." && entryName != "..") names.emplace_back(entryName);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> listDirectory(const std::string& path) {
    return listDirectory(openDirectory(AT_FDCWD, path, true).get(), path);
}

int writeAll(int fd, const void* data, std::size_t size) {
    const auto* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t wrote = ::write(fd, next, size);
        if (wrote > 0) {
            next += wrote;
            size -= static_cast<std::size_t>(wrote);
        } else if (wrote == 0) {
            return EIO;
        } else if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

std::string readSmallFile(int dirFd, const std::string& name, std::size_t limit, bool followLink) {
    Fd fd(::openat(dirFd, name.c_str(), O_RDONLY | (followLink ? 0 : O_NOFOLLOW) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) throw PosixError(errno, "cannot open", name);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) throw PosixError(errno, "cannot examine", name);
    if (S_ISDIR(info.st_mode)) throw PosixError(EISDIR, "cannot read", name);
    if (!S_ISREG(info.st_mode)) throw PosixError(EINVAL, "refusing the non-regular file", name);
    if (static_cast<std::uint64_t>(info.st_size) > limit) throw PosixError(EFBIG, "cannot read", name);
    std::string data;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw PosixError(errno, "cannot read", name);
        if (got == 0) break;
        data.append(buffer, static_cast<std::size_t>(got));
        // It may grow while it is read.
        if (data.size() > limit) throw PosixError(EFBIG, "cannot read", name);
    }
    return data;
}

}  // namespace corvidale
