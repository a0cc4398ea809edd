#include "core/util/tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <vector>

#include "core/util/posix.h"

namespace corvidale {
namespace {

// One folder on the way down: its names still to remove, and its identity,
// so that coming back up through ".." can be checked.
struct Frame {
    std::vector<std::string> names;
    std::size_t next = 0;
    dev_t device = 0;
    ino_t inode = 0;
    std::string nameInParent;
};

// The walk, and the first thing it could not remove.
class Removal {
public:
    explicit Removal(int rootFd) : current_(::openat(rootFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (!current_) throw PosixError(errno, "cannot open the directory", ".");
        enter(".");
    }

    void run() {
        while (!frames_.empty()) {
            Frame& frame = frames_.back();
            if (frame.next < frame.names.size()) {
                removeEntry(frame.names[frame.next++]);
            } else if (frames_.size() == 1) {
                break;
            } else {
                leave();
            }
        }
        if (failure_) throw *failure_;
    }

private:
    void note(int code, const char* doing, const std::string& name) {
        if (!failure_) failure_.emplace(code, doing, name);
    }

    void enter(std::string nameInParent) {
        struct stat info {};
        if (::fstat(current_.get(), &info) != 0) throw PosixError(errno, "cannot examine", nameInParent);
        frames_.push_back(Frame{listDirectory(current_.get(), nameInParent), 0, info.st_dev, info.st_ino,
                                std::move(nameInParent)});
    }

    void removeEntry(const std::string& name) {
        struct stat info {};
        if (::fstatat(current_.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) note(errno, "cannot examine", name);
            return;
        }
        if (!S_ISDIR(info.st_mode)) {
            if (::unlinkat(current_.get(), name.c_str(), 0) != 0 && errno != ENOENT) note(errno, "cannot remove", name);
            return;
        }
        // Best effort: as the owner this always works, and root needs no
        // permission bits anyway.
        if ((info.st_mode & S_IRWXU) != S_IRWXU) {
            ::fchmodat(current_.get(), name.c_str(), (info.st_mode & 07777) | S_IRWXU, 0);
        }
        Fd child(::openat(current_.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!child) return note(errno, "cannot open the directory", name);
        std::swap(current_, child);
        try {
            enter(name);
        } catch (const PosixError& error) {
            std::swap(current_, child);
            note(error.errorNumber(), error.doing().c_str(), name);
        }
    }

    void leave() {
        const std::string done = frames_.back().nameInParent;
        frames_.pop_back();
        Fd parent(::openat(current_.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat info {};
        if (!parent || ::fstat(parent.get(), &info) != 0 || info.st_dev != frames_.back().device ||
            info.st_ino != frames_.back().inode) {
            throw PosixError(ESTALE, "the tree changed while removing", done);
        }
        current_ = std::move(parent);
        if (::unlinkat(current_.get(), done.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
            note(errno, "cannot remove", done);
        }
    }

    Fd current_;
    std::vector<Frame> frames_;
    std::optional<PosixError> failure_;
};

}  // namespace

void removeContents(int dirFd) { Removal(dirFd).run(); }

void removeTree(int dirFd, const std::string& name) {
    struct stat info {};
    if (::fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return;
        throw PosixError(errno, "cannot examine", name);
    }
    if (!S_ISDIR(info.st_mode)) {
        if (::unlinkat(dirFd, name.c_str(), 0) != 0 && errno != ENOENT) throw PosixError(errno, "cannot remove", name);
        return;
    }
    if ((info.st_mode & S_IRWXU) != S_IRWXU) ::fchmodat(dirFd, name.c_str(), (info.st_mode & 07777) | S_IRWXU, 0);
    removeContents(openDirectory(dirFd, name).get());
    if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
        throw PosixError(errno, "cannot remove", name);
    }
}

void removeTreeQuietly(const std::string& path) noexcept {
    try {
        removeTree(AT_FDCWD, path);
    } catch (...) {
    }
}

}  // namespace corvidale
