#include "tree.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/fs.h"
#include "core/util/tree.h"

namespace corvidale::tools::delta {
namespace {

constexpr const char* kNewFile = ".corvidale-delta-new";

[[noreturn]] void fail(const std::string& doing, const std::string& path, int error = errno) {
    throw ToolError("cannot " + doing + " " + encodeName(path) + ": " + std::strerror(error));
}

// The folder that holds `path`, reached one real folder at a time.
Fd parentOf(int rootFd, const std::string& path, std::string& leaf) {
    Fd folder(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
    std::size_t start = 0;
    for (std::size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
        const std::string part = path.substr(start, slash - start);
        Fd next(::openat(folder.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next) fail("open the folder of", path);
        folder = std::move(next);
    }
    leaf = path.substr(start);
    return folder;
}

bool exists(int folder, const std::string& leaf, struct stat& info) {
    if (::fstatat(folder, leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) return true;
    if (errno != ENOENT) throw PosixError(errno, "cannot look at", leaf);
    return false;
}

void copyContents(int from, int to, const std::string& name) {
    // The kernel copies within a file system; between two it may refuse, and
    // the bytes go through here.
    bool inKernel = true;
    std::vector<char> buffer;
    while (true) {
        ssize_t copied = -1;
        if (inKernel) {
            copied = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
            if (copied < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
                inKernel = false;
                buffer.resize(1 << 20);
                continue;
            }
        } else {
            copied = ::read(from, buffer.data(), buffer.size());
            if (copied > 0) {
                if (const int error = writeAll(to, buffer.data(), static_cast<std::size_t>(copied)); error != 0) {
                    fail("copy", name, error);
                }
            }
        }
        if (copied == 0) return;
        if (copied < 0 && errno != EINTR) fail("copy", name);
    }
}

void copyEntry(int fromFd, int toFd, const std::string& name, int depth) {
    if (depth > kMaxDepth) throw ToolError("the app is nested too deeply");
    const struct stat info = statEntry(fromFd, name);
    if (S_ISDIR(info.st_mode)) {
        if (::mkdirat(toFd, name.c_str(), 0700) != 0) fail("make", name);
        const Fd from = openDirectory(fromFd, name), to = openDirectory(toFd, name);
        for (const std::string& entry : listDirectory(from.get())) copyEntry(from.get(), to.get(), entry, depth + 1);
        if (::fchmod(to.get(), info.st_mode & 07777) != 0) fail("set the mode of", name);
    } else if (S_ISLNK(info.st_mode)) {
        if (::symlinkat(linkTarget(fromFd, name).c_str(), toFd, name.c_str()) != 0) fail("make the link", name);
    } else if (S_ISREG(info.st_mode)) {
        if (::linkat(fromFd, name.c_str(), toFd, name.c_str(), 0) == 0) return;
        if (errno != EXDEV && errno != EPERM && errno != EMLINK) fail("link", name);
        const Fd from(::openat(fromFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        const Fd to(::openat(toFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!from || !to) fail("copy", name);
        copyContents(from.get(), to.get(), name);
        if (::fchmod(to.get(), info.st_mode & 0777) != 0) fail("set the mode of", name);
    } else {
        throw ToolError("the app holds a device, pipe or socket: " + encodeName(name));
    }
}

// The new file, written beside the one it replaces.
class NewFile : public FileOutput {
public:
    NewFile(Fd folder, std::string leaf, std::string path, mode_t mode)
        : folder_(std::move(folder)), leaf_(std::move(leaf)), path_(std::move(path)), mode_(mode) {
        ::unlinkat(folder_.get(), kNewFile, 0);
        fd_ = Fd(::openat(folder_.get(), kNewFile, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd_) fail("make", path_);
    }
    ~NewFile() override {
        if (fd_) ::unlinkat(folder_.get(), kNewFile, 0);
    }
    void write(std::string_view bytes) override {
        if (const int error = writeAll(fd_.get(), bytes.data(), bytes.size()); error != 0) fail("write", path_, error);
    }
    void finish() override {
        if (::fchmod(fd_.get(), mode_) != 0) fail("set the mode of", path_);
        struct stat info {};
        if (exists(folder_.get(), leaf_, info) && S_ISDIR(info.st_mode)) {
            throw ToolError("the delta writes a file over the folder " + encodeName(path_));
        }
        if (::renameat(folder_.get(), kNewFile, folder_.get(), leaf_.c_str()) != 0) fail("put in place", path_);
        fd_ = Fd();
    }

private:
    Fd folder_;
    std::string leaf_, path_;
    mode_t mode_;
    Fd fd_;
};

}  // namespace

void copyTree(int fromFd, int toFd, const std::string& name) { copyEntry(fromFd, toFd, name, 0); }

TreeSink::~TreeSink() { unmapOld(); }

// The folder that holds `path`, which this user may then write, whatever
// its mode: the mode it had is kept for finish().
Fd TreeSink::writableParent(const std::string& path, std::string& leaf) {
    Fd folder = parentOf(rootFd_, path, leaf);
    struct stat info {};
    if (::fstat(folder.get(), &info) != 0) fail("look at the folder of", path);
    if ((info.st_mode & S_IRWXU) != S_IRWXU) {
        modes_.try_emplace(path.substr(0, path.size() - leaf.size()), info.st_mode & 07777);
        if (::fchmod(folder.get(), (info.st_mode & 07777) | S_IRWXU) != 0) fail("open up the folder of", path);
    }
    return folder;
}

void TreeSink::finish() {
    // Deepest first: a parent's mode may take away what reaching its children needs.
    for (auto entry = modes_.rbegin(); entry != modes_.rend(); ++entry) {
        std::string leaf;
        try {
            // A trailing '/' opens the folder itself; one that went, or is now a file, is no more ours to set.
            const Fd folder = parentOf(rootFd_, entry->first, leaf);
            if (::fchmod(folder.get(), entry->second) != 0) fail("set the mode of", entry->first);
        } catch (const ToolError&) {
            // Left open, it fails the seal, and the full image is installed instead.
        }
    }
    modes_.clear();
}

void TreeSink::unmapOld() {
    if (mapped_) ::munmap(mapped_, mappedSize_);
    mapped_ = nullptr;
    mappedSize_ = 0;
}

void TreeSink::remove(const std::string& path) {
    std::string leaf;
    const Fd folder = writableParent(path, leaf);
    struct stat info {};
    if (!exists(folder.get(), leaf, info)) throw ToolError("the delta removes " + encodeName(path) + ", which the app does not hold");
    removeTree(folder.get(), leaf);
}

void TreeSink::makeFolder(const std::string& path, mode_t mode) {
    std::string leaf;
    const Fd folder = writableParent(path, leaf);
    if (::mkdirat(folder.get(), leaf.c_str(), 0700) != 0 && errno != EEXIST) fail("make", path);
    // An existing folder of the copy is the copy's own, never linked: its
    // mode is set on the folder opened without following a link. This mode
    // is its last: a later change in it opens it up again for the while.
    modes_.erase(path + "/");
    const Fd made(::openat(folder.get(), leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!made || ::fchmod(made.get(), mode) != 0) fail("make the folder", path);
}

void TreeSink::makeLink(const std::string& path, const std::string& target) {
    std::string leaf;
    const Fd folder = writableParent(path, leaf);
    struct stat info {};
    if (exists(folder.get(), leaf, info)) {
        if (S_ISDIR(info.st_mode)) throw ToolError("the delta makes a link over the folder " + encodeName(path));
        if (::unlinkat(folder.get(), leaf.c_str(), 0) != 0) fail("replace", path);
    }
    if (::symlinkat(target.c_str(), folder.get(), leaf.c_str()) != 0) fail("make the link", path);
}

std::unique_ptr<FileOutput> TreeSink::makeFile(const std::string& path, mode_t mode) {
    std::string leaf;
    Fd folder = writableParent(path, leaf);
    return std::make_unique<NewFile>(std::move(folder), std::move(leaf), path, mode);
}

std::string_view TreeSink::oldFile(const std::string& path) {
    unmapOld();
    std::string leaf;
    const Fd folder = parentOf(rootFd_, path, leaf);
    const Fd file(::openat(folder.get(), leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        throw ToolError("the delta patches " + encodeName(path) + ", which is not a file of the app");
    }
    if (static_cast<std::uint64_t>(info.st_size) > kMaxPatchBytes) {
        throw ToolError("the delta patches " + encodeName(path) + ", which is too large for a patch");
    }
    if (info.st_size == 0) return {};
    void* map = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, file.get(), 0);
    if (map == MAP_FAILED) fail("read", path);
    mapped_ = map;
    mappedSize_ = static_cast<std::size_t>(info.st_size);
    return {static_cast<const char*>(mapped_), mappedSize_};
}

}  // namespace corvidale::tools::delta
