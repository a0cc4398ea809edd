#include "fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace corvidale::tools {
namespace {

std::string systemError(const std::string& what, const std::string& name) {
    return what + " " + encodeName(name) + ": " + std::strerror(errno);
}

bool plainByte(unsigned char byte) {
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
           std::strchr("._-+,@~/", byte) != nullptr;
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

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

Fd openDirectory(int at, const std::string& path) {
    Fd fd(::openat(at, path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) throw ToolError(systemError("cannot open the directory", path));
    return fd;
}

std::vector<std::string> listDirectory(int dirFd) {
    // readdir works on its own descriptor; rewinding a shared one would
    // disturb the caller.
    const int copy = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0) throw ToolError(systemError("cannot list", "."));
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(copy));
    if (!dir) {
        ::close(copy);
        throw ToolError(systemError("cannot list", "."));
    }
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) throw ToolError(systemError("cannot list", "."));
            break;
        }
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct stat statEntry(int dirFd, const std::string& name) {
    struct stat info {};
    if (::fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        throw ToolError(systemError("cannot examine", name));
    }
    return info;
}

std::string readSmallFile(int dirFd, const std::string& name, std::size_t limit, bool followLink) {
    Fd fd(::openat(dirFd, name.c_str(), O_RDONLY | (followLink ? 0 : O_NOFOLLOW) | O_NONBLOCK | O_CLOEXEC));
    if (!fd) throw ToolError(systemError("cannot open", name));
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        throw ToolError("not a regular file: " + encodeName(name));
    }
    if (static_cast<std::uint64_t>(info.st_size) > limit) throw ToolError("too large: " + encodeName(name));
    std::string data;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw ToolError(systemError("cannot read", name));
        if (got == 0) break;
        data.append(buffer, static_cast<std::size_t>(got));
        if (data.size() > limit) throw ToolError("too large: " + encodeName(name));
    }
    return data;
}

void writeNewFile(int dirFd, const std::string& name, std::string_view data, mode_t mode) {
    Fd fd(::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd) throw ToolError(systemError("cannot create", name));
    // The umask must not decide the mode of a key or a signature file.
    if (::fchmod(fd.get(), mode) != 0) throw ToolError(systemError("cannot set the mode of", name));
    while (!data.empty()) {
        const ssize_t wrote = ::write(fd.get(), data.data(), data.size());
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) throw ToolError(systemError("cannot write", name));
        data.remove_prefix(static_cast<std::size_t>(wrote));
    }
    if (::close(fd.release()) != 0) throw ToolError(systemError("cannot write", name));
}

void removeContents(int rootFd) {
    // One frame per directory on the way down: its remaining names and its
    // identity, so that coming back up through ".." can be checked.
    struct Frame {
        std::vector<std::string> names;
        std::size_t next = 0;
        dev_t device = 0;
        ino_t inode = 0;
        std::string nameInParent;
    };
    Fd current(::openat(rootFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!current) throw ToolError(systemError("cannot open the directory", "."));
    std::vector<Frame> frames;
    const auto enter = [&](std::string nameInParent) {
        struct stat info {};
        if (::fstat(current.get(), &info) != 0) throw ToolError(systemError("cannot examine", nameInParent));
        frames.push_back(Frame{listDirectory(current.get()), 0, info.st_dev, info.st_ino, std::move(nameInParent)});
    };
    enter(".");
    while (!frames.empty()) {
        Frame& frame = frames.back();
        if (frame.next < frame.names.size()) {
            const std::string name = frame.names[frame.next++];
            struct stat info {};
            if (::fstatat(current.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) continue;
                throw ToolError(systemError("cannot examine", name));
            }
            if (!S_ISDIR(info.st_mode)) {
                if (::unlinkat(current.get(), name.c_str(), 0) != 0 && errno != ENOENT) {
                    throw ToolError(systemError("cannot remove", name));
                }
                continue;
            }
            if ((info.st_mode & S_IRWXU) != S_IRWXU) {
                // Best effort: as the owner this always works, and root needs
                // no permission bits anyway.
                ::fchmodat(current.get(), name.c_str(), (info.st_mode & 07777) | S_IRWXU, 0);
            }
            current = openDirectory(current.get(), name);
            enter(name);
            continue;
        }
        if (frames.size() == 1) break;
        const std::string done = frame.nameInParent;
        frames.pop_back();
        Fd parent(::openat(current.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat info {};
        if (!parent || ::fstat(parent.get(), &info) != 0 || info.st_dev != frames.back().device ||
            info.st_ino != frames.back().inode) {
            throw ToolError("the tree changed while it was being removed");
        }
        current = std::move(parent);
        if (::unlinkat(current.get(), done.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
            throw ToolError(systemError("cannot remove", done));
        }
    }
}

void removeTree(int dirFd, const std::string& name) {
    struct stat info {};
    if (::fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return;
        throw ToolError(systemError("cannot examine", name));
    }
    if (S_ISDIR(info.st_mode)) {
        if ((info.st_mode & S_IRWXU) != S_IRWXU) ::fchmodat(dirFd, name.c_str(), (info.st_mode & 07777) | S_IRWXU, 0);
        const Fd dir = openDirectory(dirFd, name);
        removeContents(dir.get());
        if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0) throw ToolError(systemError("cannot remove", name));
    } else if (::unlinkat(dirFd, name.c_str(), 0) != 0) {
        throw ToolError(systemError("cannot remove", name));
    }
}

std::string toHex(const unsigned char* bytes, std::size_t length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 0xF]);
    }
    return out;
}

std::string sha256OfFile(int fd) {
    struct ContextFree {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        throw ToolError("cannot start a SHA-256 digest");
    }
    std::vector<unsigned char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw ToolError(std::string("cannot read a file: ") + std::strerror(errno));
        if (got == 0) break;
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(got)) != 1) {
            throw ToolError("the SHA-256 digest failed");
        }
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) throw ToolError("the SHA-256 digest failed");
    return toHex(digest, length);
}

}  // namespace corvidale::tools
