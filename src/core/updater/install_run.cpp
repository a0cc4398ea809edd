#include "install_run.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
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
// A run's record in the state folder.
constexpr const char* kRecordPrefix = "run-";
constexpr std::string_view kRecordMagic = "corvidale-update-run 1";
constexpr std::size_t kMaxRecordBytes = 64 * 1024;
constexpr const char* kStateFolderName = "corvidale-updates";
// How long a run waits for the tools of a dead one to end once it has
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

// The lock, once whoever held it has had a while to let go.
LockState waitForLock(const std::string& path, Fd& fd) {
    fd = Fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return LockState::Unavailable;
    const auto until = std::chrono::steady_clock::now() + kLeftoverToolsWait;
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) return LockState::Unavailable;
        if (std::chrono::steady_clock::now() >= until) return LockState::Busy;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return LockState::Held;
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

// `prefix` and a UUID, nothing else.
bool isNamed(std::string_view name, std::string_view prefix) {
    return name.starts_with(prefix) && isUUID(name.substr(prefix.size()));
}

std::string baseName(std::string_view path) { return std::string(path.substr(path.rfind('/') + 1)); }

std::vector<std::string> listQuietly(int dirFd, const std::string& name) {
    try {
        return listDirectory(dirFd, name);
    } catch (const PosixError&) {
        return {};
    }
}

std::vector<std::string> listQuietly(const std::string& path) {
    try {
        return listDirectory(path);
    } catch (const PosixError&) {
        return {};
    }
}

bool isOwnEntry(const std::string& path, bool folder) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && info.st_uid == ::geteuid() && (!folder || S_ISDIR(info.st_mode));
}

std::string stagingPrefix(const Location& location) { return "." + location.appName + ".update-"; }

// Puts `text` in place of the record `name` as a whole, so that a reader sees
// the old one or the new one. Answers 0 or the error.
int writeRecord(int stateFd, const std::string& name, std::string_view text) {
    const std::string temporary = name + ".new";
    int code = 0;
    {
        Fd fd(::openat(stateFd, temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd) return errno;
        code = writeAll(fd.get(), text.data(), text.size());
        if (code == 0 && ::close(fd.release()) != 0) code = errno;
    }
    if (code == 0 && ::renameat(stateFd, temporary.c_str(), stateFd, name.c_str()) != 0) code = errno;
    if (code != 0) ::unlinkat(stateFd, temporary.c_str(), 0);
    return code;
}

// Whether the run of a record still runs. An earlier run of this very
// process is over: it is never in two at once.
bool isRunning(const ProcessIdentity& run) {
    const auto now = run.pid == ::getpid() ? std::nullopt : identifyProcess(run.pid);
    return now && now->startTime == run.startTime;
}

// Stops a dead run's tool, with the process group it made for itself, when
// the process by its id is still that very tool. Answers whether it was.
bool stopTool(const ProcessIdentity& tool) {
    if (tool.pid == ::getpid() || identifyProcess(tool.pid) != tool) return false;
    return ::kill(::getpgid(tool.pid) == tool.pid ? -tool.pid : tool.pid, SIGKILL) == 0;
}

// A dead run's folder of this user's goes once nothing holds its lock (its
// tool, still running, stopped first), detached first when something is still
// attached in it. Answers whether it is gone, or never was one of ours.
bool removeRunFolder(const std::string& runFolder, const ToolTable& tools, ToolPaths paths,
                     const std::optional<ProcessIdentity>& tool) {
    struct stat info {};
    if (::lstat(runFolder.c_str(), &info) != 0) return errno == ENOENT;
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) return true;
    Fd fd;
    LockState state = lockFolder(runFolder, fd);
    if (state == LockState::Busy && tool && stopTool(*tool)) state = waitForLock(runFolder, fd);
    if (state != LockState::Held) return false;
    paths.mount = runFolder + "/volume";
    if (::lstat(paths.mount.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) runRow(tools.detach, paths);
    removeTreeQuietly(runFolder);
    return ::lstat(runFolder.c_str(), &info) != 0;
}

// The folders of the recorded runs that are over, wherever they are, and
// their records once they are gone. Answers the names of every folder a
// record names.
std::set<std::string> removeRecordedRuns(const ToolTable& tools, const ToolPaths& paths, const StateFolder& state) {
    std::set<std::string> recorded;
    for (const auto& name : listQuietly(state.fd(), state.path())) {
        if (!isNamed(name, kRecordPrefix)) continue;
        std::optional<RunRecord> record;
        try {
            record = parseRecord(readSmallFile(state.fd(), name, kMaxRecordBytes));
        } catch (const PosixError&) {
            continue;  // to be read again by a later run
        }
        if (record) recorded.insert(baseName(record->folder));
        if (record && isRunning(record->run)) continue;
        const bool runFolder = record && record->folder.starts_with('/') && isNamed(baseName(record->folder), kRunPrefix);
        if (!runFolder || removeRunFolder(record->folder, tools, paths, record->tool)) {
            ::unlinkat(state.fd(), name.c_str(), 0);
        }
    }
    return recorded;
}

}  // namespace

StateFolder::StateFolder(const std::string& caches) : path_(caches + "/" + kStateFolderName) {
    if (caches.empty() || caches.front() != '/') throw Failure::install("this user has no folder for caches");
    std::error_code ignored;
    std::filesystem::create_directories(caches, ignored);
    if (::mkdir(path_.c_str(), 0700) != 0 && errno != EEXIST) throw SystemError::fromErrno(errno, path_);
    fd_ = Fd(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!fd_ && errno != ELOOP && errno != ENOTDIR) throw SystemError::fromErrno(errno, path_);
    if (!fd_ || ::fstat(fd_.get(), &info) != 0 || info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH))) {
        throw Failure::install(path_ + " is not this user's own folder");
    }
}

InstallLock::InstallLock(const Location& location, const StateFolder& state) : state_(state), name_(nameFor(location)) {
    for (int attempt = 0; attempt < 8 && !fd_; ++attempt) take(location);
    if (!fd_) throw Failure::install("couldn't lock " + state_.path() + "/" + name_);
}

InstallLock::~InstallLock() { ::unlinkat(state_.fd(), name_.c_str(), 0); }

std::string InstallLock::nameFor(const Location& location) {
    char* real = ::realpath(location.folder.c_str(), nullptr);
    const std::string folder = real != nullptr ? real : location.folder;
    std::free(real);
    return sha256Hex(folder + "/" + location.appName).substr(0, 32) + ".lock";
}

void InstallLock::take(const Location& location) {
    const std::string path = state_.path() + "/" + name_;
    Fd fd(::openat(state_.fd(), name_.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!fd) throw SystemError::fromErrno(errno, path);
    struct stat opened {}, named {};
    if (::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_uid != ::geteuid() ||
        opened.st_nlink != 1) {
        throw Failure::install(path + " is not the updater's own lock file");
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        if (code == EWOULDBLOCK) {
            throw Failure::install("another update of " + location.installed + " is being installed");
        }
        throw SystemError::fromErrno(code, path);
    }
    if (::fstatat(state_.fd(), name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_ino != opened.st_ino ||
        named.st_dev != opened.st_dev) {
        return;  // its holder removed it meanwhile
    }
    fd_ = std::move(fd);
}

std::string formatRecord(const RunRecord& record) {
    std::string text(kRecordMagic);
    text += '\0' + record.folder + '\0';
    const auto add = [&text](const ProcessIdentity& process) {
        for (const auto& field : {std::to_string(process.pid), std::to_string(process.startTime), process.executable}) {
            text += field + '\0';
        }
    };
    add(record.run);
    if (record.tool) add(*record.tool);
    return text;
}

std::optional<RunRecord> parseRecord(std::string_view text) {
    std::vector<std::string_view> fields;
    while (!text.empty()) {
        const std::size_t end = text.find('\0');
        if (end == std::string_view::npos) return std::nullopt;  // cut short
        fields.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    if ((fields.size() != 5 && fields.size() != 8) || fields[0] != kRecordMagic) return std::nullopt;
    const auto process = [&fields](std::size_t at) -> std::optional<ProcessIdentity> {
        const auto pid = parseDecimal(fields[at]), started = parseDecimal(fields[at + 1]);
        if (!pid || *pid <= 0 || *pid > INT_MAX || !started || *started < 0) return std::nullopt;
        return ProcessIdentity{static_cast<int>(*pid), static_cast<std::uint64_t>(*started), std::string(fields[at + 2])};
    };
    const auto run = process(2), tool = fields.size() == 8 ? process(5) : std::nullopt;
    if (!run || (fields.size() == 8 && !tool)) return std::nullopt;
    return RunRecord{std::string(fields[1]), *run, tool};
}

void removeLeftovers(const Location& location, const std::string& temporary, const ToolTable& tools,
                     const ToolPaths& paths, const StateFolder& state) {
    const std::set<std::string> recorded = removeRecordedRuns(tools, paths, state);
    // Folders of no record: left by a version that kept none.
    for (const auto& name : listQuietly(temporary)) {
        if (isNamed(name, kRunPrefix) && !recorded.contains(name)) {
            removeRunFolder(temporary + "/" + name, tools, paths, std::nullopt);
        }
    }
    const std::string staging = stagingPrefix(location);
    for (const auto& name : listQuietly(location.folder)) {
        const std::string path = location.folder + "/" + name;
        if (isNamed(name, staging) && isOwnEntry(path, false)) removeTreeQuietly(path);
    }
}

RunFolder::RunFolder(const std::string& temporary, const StateFolder& state) : state_(state) {
    const std::string uuid = makeUUID();
    recordName_ = kRecordPrefix + uuid;
    path_ = temporary + "/" + kRunPrefix + uuid;
    self_ = identifyProcess(::getpid()).value_or(ProcessIdentity{::getpid(), 0, {}});
    // Recorded before it exists: however a run is killed, no folder of it is
    // left that no record names.
    if (const int code = writeRecord(state_.fd(), recordName_, formatRecord({path_, self_, std::nullopt}))) {
        throw SystemError::fromErrno(code, state_.path() + "/" + recordName_);
    }
    std::error_code ignored;
    std::filesystem::create_directories(temporary, ignored);
    if (::mkdir(path_.c_str(), 0700) != 0 || lockFolder(path_, fd_) != LockState::Held) {
        const int code = errno;
        removeTreeQuietly(path_);
        ::unlinkat(state_.fd(), recordName_.c_str(), 0);
        throw SystemError::fromErrno(code, path_);
    }
    options_.sharedFd = fd_.get();
    options_.started = [this](int pid) { record(identifyProcess(pid)); };
}

RunFolder::~RunFolder() {
    removeTreeQuietly(path_);
    if (!isOwnEntry(path_, true)) ::unlinkat(state_.fd(), recordName_.c_str(), 0);
}

void RunFolder::record(const std::optional<ProcessIdentity>& tool) const {
    // One that cannot be written only leaves the next run less to stop.
    writeRecord(state_.fd(), recordName_, formatRecord({path_, self_, tool}));
}

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
