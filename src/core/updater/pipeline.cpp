#include "pipeline.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

#include "failure.h"
#include "version.h"

namespace corvidale::Updater {
namespace {

// A run's own folder in the temporary folder: the download and the mount
// directory are made inside it.
constexpr const char* kRunPrefix = "corvidale-update-";
// How long a run waits for the tools of a killed one to end once it has
// stopped them.
constexpr auto kLeftoverToolsWait = std::chrono::seconds(10);

// What a run undoes on leaving, however it leaves: the latest registered
// first, errors ignored.
class CleanUp {
public:
    CleanUp() = default;
    CleanUp(const CleanUp&) = delete;
    CleanUp& operator=(const CleanUp&) = delete;
    ~CleanUp() { runNow(); }
    void add(std::function<void()> action) { actions_.push_back(std::move(action)); }
    // Undoes everything registered so far, now.
    void runNow() {
        while (!actions_.empty()) {
            auto action = std::move(actions_.back());
            actions_.pop_back();
            try {
                action();
            } catch (...) {
            }
        }
    }

private:
    std::vector<std::function<void()>> actions_;
};

// An advisory lock on a run's folder, held by an open descriptor that the
// run's tools share, so the system lets go of it once the run and everything
// it started have ended, however they ended: a leftover folder whose lock can
// be taken belongs to a run that is over.
enum class LockState { Held, Busy, Unavailable };

LockState lockFolder(const std::string& path, int& fd) {
    fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return LockState::Unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return LockState::Held;
    const bool busy = errno == EWOULDBLOCK;
    ::close(fd);
    fd = -1;
    return busy ? LockState::Busy : LockState::Unavailable;
}

// One installation of an app at a time, told by a lock file of this user's
// own beside the app (mode 0600): nobody who cannot write that folder, and so
// replace the app anyway, can hold it. The file also tells the next run what a
// killed one left: its folder and its running tool's process group. It is
// removed when the run ends; a run that finds it removed under its lock takes
// the lock again on the new file.
class InstallLock {
public:
    InstallLock(const std::string& folder, const std::string& appName, const std::string& installed)
        : path_(folder + "/." + appName + ".update-lock") {
        for (int attempt = 0; attempt < 8 && fd_ < 0; ++attempt) take(folder, installed);
        if (fd_ < 0) throw Failure::install("couldn't lock " + path_);
    }
    InstallLock(const InstallLock&) = delete;
    InstallLock& operator=(const InstallLock&) = delete;
    ~InstallLock() {
        ::unlink(path_.c_str());
        ::close(fd_);
    }

    // Replaces what the file says; a record that cannot be written only makes
    // the next run's clean-up less thorough.
    void record(const std::string& text) const {
        if (::pwrite(fd_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size())) {
            [[maybe_unused]] const int ignored = ::ftruncate(fd_, static_cast<off_t>(text.size()));
        }
    }
    std::string recorded() const {
        char buffer[4096];
        const ssize_t got = ::pread(fd_, buffer, sizeof buffer, 0);
        return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
    }

private:
    void take(const std::string& folder, const std::string& installed) {
        const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        if (fd < 0) {
            const int code = errno;
            if ((code == EACCES || code == EPERM || code == EROFS) && ::access(folder.c_str(), W_OK) != 0) {
                throw Failure::install(folder + " is not writable");
            }
            throw SystemError::fromErrno(code, path_);
        }
        struct stat opened {}, named {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_uid != ::geteuid()) {
            ::close(fd);
            throw Failure::install(path_ + " is not this user's lock file");
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int code = errno;
            ::close(fd);
            if (code == EWOULDBLOCK) throw Failure::install("another update of " + installed + " is being installed");
            throw SystemError::fromErrno(code, path_);
        }
        if (::lstat(path_.c_str(), &named) != 0 || named.st_ino != opened.st_ino || named.st_dev != opened.st_dev) {
            ::close(fd);  // its holder removed it meanwhile
            return;
        }
        if ((opened.st_mode & 07777) != 0600) ::fchmod(fd, 0600);
        fd_ = fd;
    }

    std::string path_;
    int fd_ = -1;
};

// The names in a folder, sorted, so that "the first app" is the same on every
// file system. Throws SystemError.
std::vector<std::string> listFolder(const std::string& path) {
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) throw SystemError::fromErrno(errno, path);
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    const int code = errno;
    ::closedir(folder);
    if (code != 0) throw SystemError::fromErrno(code, path);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> listFolderQuietly(const std::string& path) {
    try {
        return listFolder(path);
    } catch (const SystemError&) {
        return {};
    }
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

bool hasControlCharacter(std::string_view name) {
    return std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// The path extension is exactly "app", after a name of its own.
bool isAppName(std::string_view name) { return name.size() > 4 && name.ends_with(".app"); }

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string asciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The candidate's own version, read only once its seal verified. Its build
// must be the one the feed published and newer than the running one: a
// genuinely signed old build must never come back under a newer claim.
InstalledApp candidateVersion(platform::FileManager& files, const std::string& app, const Release& release,
                              std::int64_t runningBuild) {
    const auto value = files.infoValueAt(app, "CFBundleVersion");
    const auto build = value && value->kind == platform::PlistValue::Kind::String ? parseDecimal(value->text)
                                                                                 : std::nullopt;
    if (!build) throw Failure::install("the app in the disk image has no build number");
    const std::string holds = "the disk image holds build " + std::to_string(*build);
    if (*build != release.build) {
        throw Failure::install(holds + ", not the published build " + std::to_string(release.build));
    }
    if (*build <= runningBuild) {
        throw Failure::install(holds + ", which is not newer than build " + std::to_string(runningBuild));
    }
    return {versionFromInfo(files.infoValueAt(app, "CFBundleShortVersionString")), *build};
}

ToolResult run(const ToolRow& row, const ToolPaths& paths, ToolOptions options = {}) {
    const auto command = commandFor(row, paths);
    options.seconds = command.seconds;
    return runTool(command.executable, command.arguments, options);
}

// What a tool said about its failure: its last line, when the tool wrote it
// under its own name as the system's tools do (anything else may come from
// the download), without control characters and cut short.
std::string toolMessage(const ToolResult& result, const ToolRow& row) {
    std::string_view output = result.output;
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.remove_suffix(1);
    std::string_view line = output.substr(output.rfind('\n') == std::string_view::npos ? 0 : output.rfind('\n') + 1);
    const std::string executable = row.executable, name = std::filesystem::path(executable).filename().string();
    bool named = false;
    for (const auto& prefix : {executable + ": ", name + ": "}) {
        if (!named && !name.empty() && line.starts_with(prefix)) {
            line.remove_prefix(prefix.size());
            named = true;
        }
    }
    if (!named) return {};
    std::string text;
    for (const char c : line.substr(0, 300)) text += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) text.pop_back();
    if (!text.empty() && static_cast<unsigned char>(text.back()) >= 0xC0) text.pop_back();
    return text;
}

std::string withMessage(std::string text, const std::string& message) {
    return message.empty() ? text : text + " (" + message + ")";
}

// Flushes the copy to the disk, its files' contents and every folder's
// entries, so that a power cut after the swap cannot leave a half-written app
// in place. Answers 0 or the error.
int syncTree(const std::string& path) {
#if defined(__linux__)
    // One call for the whole file system instead of one journal commit per file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno;
    const int result = ::syncfs(fd) == 0 ? 0 : errno;
    ::close(fd);
    return result;
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP ? 0 : errno;  // a link is flushed with its folder
    struct stat info {};
    int result = ::fstat(fd, &info) == 0 ? 0 : errno;
    if (result == 0 && S_ISDIR(info.st_mode)) {
        for (const auto& name : listFolderQuietly(path)) {
            if (result == 0) result = syncTree(path + "/" + name);
        }
    }
    if (result == 0 && ::fsync(fd) != 0) result = errno;
    ::close(fd);
    return result;
#endif
}

void syncFolder(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // the swap has happened: there is nothing left to undo
    ::close(fd);
}

// Stops the tools that a killed run of this app left running, as its record
// names them, and waits a while for them to let go of its folder. The lock is
// the proof that they still run, so a process group whose id has since been
// reused is never hit.
LockState stopLeftoverTools(int folderFd, const std::string& record) {
    const std::size_t end = record.find('\n');
    const auto group = end == std::string::npos ? std::nullopt : parseDecimal(record.substr(end + 1, record.find('\n', end + 1) - end - 1));
    if (!group || *group <= 1 || *group > std::numeric_limits<pid_t>::max() || *group == ::getpgrp()) return LockState::Busy;
    ::kill(-static_cast<pid_t>(*group), SIGKILL);
    const auto until = std::chrono::steady_clock::now() + kLeftoverToolsWait;
    while (::flock(folderFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) return LockState::Unavailable;
        if (std::chrono::steady_clock::now() >= until) return LockState::Busy;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return LockState::Held;
}

// Removes what interrupted runs left: the folders of runs that are over, with
// their downloads and attached images, and staging copies beside the app (the
// new app half copied, or the old one swapped out and not yet removed). A run
// folder still locked belongs to a live run, of this app's or another copy's,
// and stays; unless this app's own record names it: that run is dead (its lock
// is ours now), and its tools are stopped first, before they can write into
// anything that is being removed.
void removeLeftovers(const std::string& folder, const std::string& appName, const std::string& temporary,
                     const ToolTable& tools, const ToolPaths& paths, const InstallLock& lock) {
    const std::string record = lock.recorded();
    for (const auto& name : listFolderQuietly(temporary)) {
        if (!name.starts_with(kRunPrefix) || !isUUID(name.substr(std::strlen(kRunPrefix)))) continue;
        const std::string runFolder = temporary + "/" + name;
        struct stat info {};
        if (::lstat(runFolder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) continue;
        int fd = -1;
        LockState state = lockFolder(runFolder, fd);
        if (state == LockState::Busy && record.starts_with(runFolder + "\n")) {
            fd = ::open(runFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            state = fd < 0 ? LockState::Unavailable : stopLeftoverTools(fd, record);
        }
        if (state == LockState::Held) {
            ToolPaths leftover = paths;
            leftover.mount = runFolder + "/volume";
            if (isDirectory(leftover.mount)) run(tools.detach, leftover);
            removeTree(runFolder);
        }
        if (fd >= 0) ::close(fd);
    }
    lock.record("");
    const std::string staging = "." + appName + ".update-";
    for (const auto& name : listFolderQuietly(folder)) {
        if (name.starts_with(staging) && isUUID(name.substr(staging.size()))) removeTree(folder + "/" + name);
    }
}

// The run's own folder in the temporary folder, only this user's: it holds
// the download and the mount directory, and goes when the run ends, whatever
// is in it. Its lock is shared with the tools the run starts, and the lock
// file records it and their process group for the next run.
class RunFolder {
public:
    RunFolder(const std::string& temporary, const InstallLock& lock)
        : path_(temporary + "/" + kRunPrefix + makeUUID()) {
        std::error_code ignored;
        std::filesystem::create_directories(temporary, ignored);
        if (::mkdir(path_.c_str(), 0700) != 0) throw SystemError::fromErrno(errno, path_);
        if (lockFolder(path_, fd_) != LockState::Held) {
            const int code = errno;
            removeTree(path_);
            throw SystemError::fromErrno(code, path_);
        }
        lock.record(path_ + "\n");
        options_.sharedFd = fd_;
        options_.started = [&lock, path = path_](int group) {
            lock.record(path + "\n" + std::to_string(group) + "\n");
        };
    }
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;
    ~RunFolder() {
        removeTree(path_);
        ::close(fd_);
    }
    const std::string& path() const { return path_; }
    const ToolOptions& toolOptions() const { return options_; }

private:
    std::string path_;
    int fd_ = -1;
    ToolOptions options_;
};

// Copies the new app beside the installed one, on its file system so that
// the replacement is one rename. A copy that failed halfway is not kept.
void copyBeside(const ToolTable& tools, const ToolPaths& paths, const ToolOptions& options, const std::string& folder) {
    const auto copied = run(tools.copy, paths, options);
    if (copied.status != 0) {
        removeTree(paths.staging);
        if (::access(folder.c_str(), W_OK) != 0) throw Failure::install(folder + " is not writable");
        throw Failure::install(withMessage("couldn't copy the app into " + folder, toolMessage(copied, tools.copy)));
    }
}

void flushCopy(const std::string& staging, const std::string& folder) {
    if (const int error = syncTree(staging); error != 0) {
        removeTree(staging);
        throw Failure::install("couldn't save the copy in " + folder + ": " + std::strerror(error));
    }
}

// Where the installed app is, refusing a location the updater must not
// touch.
struct Location {
    std::string installed, folder, appName;
};

Location locateInstalledApp(const InstallTarget& target) {
    const std::filesystem::path installedPath = std::filesystem::path(target.bundlePath).lexically_normal();
    const std::string installed = installedPath.has_filename() ? installedPath.string()
                                                               : installedPath.parent_path().string();
    if (installed.empty() || installed.front() != '/' || installed == "/") {
        throw Failure::install("the running app's location is unknown");
    }
    const std::string folder = std::filesystem::path(installed).parent_path().string();
    // A bundle the system's package manager installed is updated by it; an
    // update of our own would leave its records wrong, even where we could
    // write.
    struct stat marker {};
    if (::lstat((folder + "/" + kPackageManagedMarker).c_str(), &marker) == 0) {
        throw Failure::install(folder + " is managed by the package manager; update Corvidale with it");
    }
    return {installed, folder, std::filesystem::path(installed).filename().string()};
}

// 1-5. The download, into the run's folder, and its digest, read in pieces:
// images of any size, never in memory. Answers the image's path.
std::string downloadImage(const Release& release, const InstallTarget& target, const std::string& runFolder) {
    const auto download = target.session.download(platform::URLRequest{release.dmg}, target.limits, runFolder);
    if (download.error) throw TransportError(*download.error);
    const std::string image = download.response.filePath;
    if (download.response.exceededMaxBytes || image.empty() ||
        (download.response.isHTTP && download.response.statusCode != 200)) {
        throw Failure::download();
    }
    if (sha256HexOfFile(image) != asciiLower(release.sha256)) throw Failure::checksum();
    return image;
}

// 6-8. Opens the image in a mount directory only this user can enter; the
// detach is registered with `cleanUp`.
void attachImage(const ToolTable& tools, ToolPaths& paths, const ToolOptions& options, const std::string& workFolder,
                 CleanUp& cleanUp) {
    paths.mount = workFolder + "/volume";
    if (::mkdir(paths.mount.c_str(), 0700) != 0) throw SystemError::fromErrno(errno, paths.mount);
    if (const auto attached = run(tools.attach, paths, options); attached.status != 0) {
        throw Failure::install(withMessage("the disk image would not open", toolMessage(attached, tools.attach)));
    }
    cleanUp.add([&tools, paths, options] { run(tools.detach, paths, options); });
#if defined(__linux__)
    // Attaching extracted the whole image, so the download is of no more use;
    // kept, its pages would be written out to the disk along with the
    // extraction and the copy, and the copy would wait for them.
    ::unlink(paths.image.c_str());
#endif
}

}  // namespace

platform::DownloadLimits downloadLimits(const std::optional<std::string>& maxBytesDefault) {
    std::uint64_t maxBytes = kDefaultMaxDownloadBytes;
    if (const auto raised = maxBytesDefault ? parseDecimal(*maxBytesDefault) : std::nullopt;
        raised && static_cast<std::uint64_t>(std::max<std::int64_t>(*raised, 0)) > maxBytes) {
        maxBytes = static_cast<std::uint64_t>(*raised);
    }
    return {maxBytes, kMinDownloadBytesPerSecond, kDownloadStallSeconds};
}

std::string pinnedTeam(const platform::Bundle& bundle, TargetSystem system) {
    if (system == TargetSystem::Mac) return kMacTeamIdentifier;
    const auto value = bundle.infoValue("CorvidaleTeamIdentifier");
    return value && value->kind == platform::PlistValue::Kind::String ? value->text : std::string();
}

InstallTarget installTarget(platform::Platform& platform) {
    auto& bundle = platform.bundle();
    return {bundle.bundlePath(),
            bundle.bundleIdentifier(),
            platform.urlSession(),
            platform.fileManager(),
            pinnedTeam(bundle),
            downloadLimits(platform.defaults().string(kMaxDownloadBytesKey)),
            currentBuild(bundle)};
}

InstalledApp installRelease(const Release& release, const InstallTarget& target, const ToolTable& tools) {
    const auto [installed, folder, appName] = locateInstalledApp(target);
    // One installation of this app at a time: a second one would take the
    // first's staging copy for a leftover.
    const InstallLock lock(folder, appName, installed);

    ToolPaths paths;
    paths.helpers = installed + "/Contents/Helpers";
    const std::string temporary = target.files.temporaryDirectory();
    removeLeftovers(folder, appName, temporary, tools, paths, lock);
    const RunFolder work(temporary, lock);
    const ToolOptions& options = work.toolOptions();
    CleanUp cleanUp;  // runs before the folder goes
    paths.image = downloadImage(release, target, work.path());
    attachImage(tools, paths, options, work.path(), cleanUp);

    // 9-10. The first entry named *.app; it must be a folder of its own, not
    // a link to one elsewhere.
    const auto entries = listFolder(paths.mount);
    const auto found = std::find_if(entries.begin(), entries.end(), [](const auto& name) { return isAppName(name); });
    if (found == entries.end() || !isDirectory(paths.mount + "/" + *found)) {
        throw Failure::install("no app in the disk image");
    }
    paths.app = paths.mount + "/" + *found;

    // 11-14. The same app, sealed, by the pinned team, the published build,
    // and it starts. The team line must not come from a name the bundle chose.
    if (target.files.bundleIdentifierAt(paths.app) != target.bundleIdentifier) {
        throw Failure::signature("a different app");
    }
    if (run(tools.verify, paths, options).status != 0) throw Failure::signature("the signature does not verify");
    if (hasControlCharacter(*found) || !namesTeam(run(tools.details, paths, options).output, tools, target.team)) {
        throw Failure::signature("another team");
    }
    const InstalledApp candidate = candidateVersion(target.files, paths.app, release, target.runningBuild);
    if (run(tools.assess, paths, options).status != 0) throw Failure::signature("Gatekeeper refused it");

    // 15. A copy beside the installed app. What it was made from goes before
    // the copy is flushed: the flush would otherwise write all of it to the
    // disk as well, only for it to be removed.
    paths.staging = folder + "/." + appName + ".update-" + makeUUID();
    copyBeside(tools, paths, options, folder);
    cleanUp.runNow();
    flushCopy(paths.staging, folder);

    // 16-17. One replacement, no backup; then the folder's new entry is flushed.
    if (const auto error = target.files.replaceItem(installed, paths.staging)) {
        removeTree(paths.staging);
        throw Failure::install(error->localizedDescription);
    }
    syncFolder(folder);
    return candidate;
}

}  // namespace corvidale::Updater
