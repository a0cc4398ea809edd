#include "install_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <thread>

#include "core/util/digest.h"
#include "core/util/tree.h"
#include "failure.h"
#include "version.h"

namespace corvidale::updater {
namespace {

// A run's own folder in the temporary folder: the download and the mount
// directory are made inside it.
constexpr const char* kRunPrefix = "corvidale-update-";
// How long a run waits for the tools of a killed one to end once it has
// stopped them.
constexpr auto kLeftoverToolsWait = std::chrono::seconds(10);

// An advisory lock on a run's folder, held by an open descriptor that the
// run's tools share, so the system lets go of it once the run and everything
// it started have ended, however they ended: a leftover folder whose lock can
// be taken belongs to a run that is over.
enum class LockState { Held, Busy, Unavailable };

LockState lockFolder(const std::string& path, Fd& fd) {
    fd = Fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return LockState::Unavailable;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return LockState::Held;
    const bool busy = errno == EWOULDBLOCK;
    fd = Fd();
    return busy ? LockState::Busy : LockState::Unavailable;
}

bool isUUID(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

std::vector<std::string> listQuietly(const std::string& path) {
    try {
        return listDirectory(path);
    } catch (const PosixError&) {
        return {};
    }
}

std::string stagingPrefix(const Location& location) { return "." + location.appName + ".update-"; }

#if defined(__linux__)
// Stops this user's processes that hold `folder` open, by process group: a
// tool that a run started and was killed before it could record the tool's
// group. Answers whether there were any.
bool stopHoldersOf(const std::string& folder) {
    bool stopped = false;
    std::error_code error;
    const auto opened = std::filesystem::canonical(folder, error);  // as the system names open files
    if (error) return false;
    try {
        for (const auto& process : std::filesystem::directory_iterator("/proc")) {
            const auto pid = parseDecimal(process.path().filename().string());
            struct stat info {};
            if (!pid || *pid <= 1 || *pid > std::numeric_limits<pid_t>::max() || *pid == ::getpid() ||
                ::stat(process.path().c_str(), &info) != 0 || info.st_uid != ::geteuid()) {
                continue;
            }
            for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", error)) {
                if (std::filesystem::read_symlink(fd.path(), error) != opened) continue;
                const pid_t group = ::getpgid(static_cast<pid_t>(*pid));
                if (group > 1 && group != ::getpgrp()) stopped = ::kill(-group, SIGKILL) == 0 || stopped;
                break;
            }
        }
    } catch (const std::exception&) {
        // A process that ended while its descriptors were read: what was
        // found so far is stopped, the wait for the lock tells the rest.
    }
    return stopped;
}
#endif

// Stops the tools that a killed run of this app left running, as its record
// names them, and waits a while for them to let go of its folder. The lock is
// the proof that they still run, so a process group whose id has since been
// reused is never hit.
LockState stopLeftoverTools(int folderFd, const std::string& folder, const std::string& record) {
    const std::size_t end = record.find('\n');
    const auto group = end == std::string::npos
                           ? std::nullopt
                           : parseDecimal(record.substr(end + 1, record.find('\n', end + 1) - end - 1));
    const bool named = group && *group > 1 && *group <= std::numeric_limits<pid_t>::max() && *group != ::getpgrp();
    bool stopped = named && ::kill(-static_cast<pid_t>(*group), SIGKILL) == 0;
#if defined(__linux__)
    if (!stopped) stopped = stopHoldersOf(folder);
#else
    (void)folder;  // the record is all there is to go by
#endif
    if (!stopped) return LockState::Busy;
    const auto until = std::chrono::steady_clock::now() + kLeftoverToolsWait;
    while (::flock(folderFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) return LockState::Unavailable;
        if (std::chrono::steady_clock::now() >= until) return LockState::Busy;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return LockState::Held;
}

// A leftover run folder of this user's goes once its run is over, detached
// first when something is still attached in it.
void removeRunFolder(const std::string& runFolder, const ToolTable& tools, ToolPaths paths, const std::string& record) {
    struct stat info {};
    if (::lstat(runFolder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) return;
    Fd fd;
    LockState state = lockFolder(runFolder, fd);
    if (state == LockState::Busy && record.starts_with(runFolder + "\n")) {
        fd = Fd(::open(runFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        state = fd ? stopLeftoverTools(fd.get(), runFolder, record) : LockState::Unavailable;
    }
    if (state != LockState::Held) return;
    paths.mount = runFolder + "/volume";
    if (::lstat(paths.mount.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) runRow(tools.detach, paths);
    removeTreeQuietly(runFolder);
}

}  // namespace

InstallLock::InstallLock(const Location& location)
    : path_(location.folder + "/." + location.appName + ".update-lock") {
    for (int attempt = 0; attempt < 8 && !fd_; ++attempt) take(location);
    if (!fd_) throw Failure::install("couldn't lock " + path_);
}

InstallLock::~InstallLock() { ::unlink(path_.c_str()); }

void InstallLock::record(const std::string& text) const {
    if (::pwrite(fd_.get(), text.data(), text.size(), 0) == static_cast<ssize_t>(text.size())) {
        [[maybe_unused]] const int ignored = ::ftruncate(fd_.get(), static_cast<off_t>(text.size()));
    }
}

std::string InstallLock::recorded() const {
    char buffer[4096];
    const ssize_t got = ::pread(fd_.get(), buffer, sizeof buffer, 0);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
}

void InstallLock::take(const Location& location) {
    Fd fd(::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!fd) {
        const int code = errno;
        if ((code == EACCES || code == EPERM || code == EROFS) && ::access(location.folder.c_str(), W_OK) != 0) {
            throw Failure::install(location.folder + " is not writable");
        }
        throw SystemError::fromErrno(code, path_);
    }
    struct stat opened {}, named {};
    if (::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_uid != ::geteuid()) {
        throw Failure::install(path_ + " is not this user's lock file");
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        if (code == EWOULDBLOCK) {
            throw Failure::install("another update of " + location.installed + " is being installed");
        }
        throw SystemError::fromErrno(code, path_);
    }
    if (::lstat(path_.c_str(), &named) != 0 || named.st_ino != opened.st_ino || named.st_dev != opened.st_dev) {
        return;  // its holder removed it meanwhile
    }
    if ((opened.st_mode & 07777) != 0600) ::fchmod(fd.get(), 0600);
    fd_ = std::move(fd);
}

void removeLeftovers(const Location& location, const std::string& temporary, const ToolTable& tools,
                     const ToolPaths& paths, const InstallLock& lock) {
    const std::string record = lock.recorded();
    for (const auto& name : listQuietly(temporary)) {
        if (name.starts_with(kRunPrefix) && isUUID(name.substr(std::strlen(kRunPrefix)))) {
            removeRunFolder(temporary + "/" + name, tools, paths, record);
        }
    }
    lock.record("");
    const std::string staging = stagingPrefix(location);
    for (const auto& name : listQuietly(location.folder)) {
        if (name.starts_with(staging) && isUUID(name.substr(staging.size()))) {
            removeTreeQuietly(location.folder + "/" + name);
        }
    }
}

RunFolder::RunFolder(const std::string& temporary, const InstallLock& lock)
    : path_(temporary + "/" + kRunPrefix + makeUUID()) {
    std::error_code ignored;
    std::filesystem::create_directories(temporary, ignored);
    if (::mkdir(path_.c_str(), 0700) != 0) throw SystemError::fromErrno(errno, path_);
    if (lockFolder(path_, fd_) != LockState::Held) {
        const int code = errno;
        removeTreeQuietly(path_);
        throw SystemError::fromErrno(code, path_);
    }
    lock.record(path_ + "\n");
    options_.sharedFd = fd_.get();
    options_.started = [&lock, path = path_](int group) { lock.record(path + "\n" + std::to_string(group) + "\n"); };
}

RunFolder::~RunFolder() { removeTreeQuietly(path_); }

std::string stagingPath(const Location& location) {
    return location.folder + "/" + stagingPrefix(location) + makeUUID();
}

std::string makeUUID() {
    std::random_device source;
    unsigned char bytes[16];
    for (int i = 0; i < 16; i += 4) {
        const auto word = static_cast<std::uint32_t>(source());
        for (int j = 0; j < 4; ++j) bytes[i + j] = static_cast<unsigned char>(word >> (8 * j));
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    const std::string digits = toHex(bytes, sizeof bytes, true);
    return digits.substr(0, 8) + "-" + digits.substr(8, 4) + "-" + digits.substr(12, 4) + "-" + digits.substr(16, 4) +
           "-" + digits.substr(20);
}

}  // namespace corvidale::updater
