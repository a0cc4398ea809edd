#include "pipeline.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <vector>

#include "failure.h"
#include "version.h"

namespace corvidale::Updater {
namespace {

constexpr const char* kMountPrefix = "corvidale-update-";

// What a run undoes on leaving, however it leaves: the latest registered
// first, errors ignored.
class CleanUp {
public:
    CleanUp() = default;
    CleanUp(const CleanUp&) = delete;
    CleanUp& operator=(const CleanUp&) = delete;
    ~CleanUp() {
        while (!actions_.empty()) {
            auto action = std::move(actions_.back());
            actions_.pop_back();
            try {
                action();
            } catch (...) {
            }
        }
    }
    void add(std::function<void()> action) { actions_.push_back(std::move(action)); }

private:
    std::vector<std::function<void()>> actions_;
};

// An advisory lock on a folder, held by an open descriptor, so the system lets
// go of it when this process ends, however it ends: a leftover folder whose
// lock can be taken belongs to a run that is over.
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

ToolResult run(const ToolRow& row, const ToolPaths& paths) {
    const auto command = commandFor(row, paths);
    return runTool(command.executable, command.arguments);
}

// Removes what an interrupted run left: staging copies beside the app (the
// new app half copied, or the old one swapped out and not yet removed), and
// images still attached in the temporary folder whose run is over.
void removeLeftovers(const std::string& folder, const std::string& appName, const std::string& temporary,
                     const ToolTable& tools, const ToolPaths& paths) {
    const std::string staging = "." + appName + ".update-";
    for (const auto& name : listFolderQuietly(folder)) {
        if (name.starts_with(staging) && isUUID(name.substr(staging.size()))) removeTree(folder + "/" + name);
    }
    for (const auto& name : listFolderQuietly(temporary)) {
        if (!name.starts_with(kMountPrefix) || !isUUID(name.substr(std::strlen(kMountPrefix)))) continue;
        const std::string mount = temporary + "/" + name;
        struct stat info {};
        if (::lstat(mount.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) continue;
        int fd = -1;
        if (lockFolder(mount, fd) != LockState::Held) continue;
        ToolPaths leftover = paths;
        leftover.mount = mount;
        run(tools.detach, leftover);
        ::rmdir(mount.c_str());  // what attached nothing is empty
        ::close(fd);
    }
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
    const std::filesystem::path installedPath = std::filesystem::path(target.bundlePath).lexically_normal();
    const std::string installed = installedPath.has_filename() ? installedPath.string()
                                                               : installedPath.parent_path().string();
    if (installed.empty() || installed.front() != '/' || installed == "/") {
        throw Failure::install("the running app's location is unknown");
    }
    const std::string folder = std::filesystem::path(installed).parent_path().string();
    const std::string appName = std::filesystem::path(installed).filename().string();

    // A bundle the system's package manager installed is updated by it; an
    // update of our own would leave its records wrong, even where we could
    // write.
    struct stat marker {};
    if (::lstat((folder + "/" + kPackageManagedMarker).c_str(), &marker) == 0) {
        throw Failure::install(folder + " is managed by the package manager; update Corvidale with it");
    }
    CleanUp cleanUp;
    // One installation of this app at a time: a second one would take the
    // first's staging copy for a leftover.
    int folderLock = -1;
    if (lockFolder(folder, folderLock) == LockState::Busy) {
        throw Failure::install("another update of " + installed + " is being installed");
    }
    if (folderLock >= 0) cleanUp.add([folderLock] { ::close(folderLock); });

    ToolPaths paths;
    paths.helpers = installed + "/Contents/Helpers";
    const std::string temporary = target.files.temporaryDirectory();
    removeLeftovers(folder, appName, temporary, tools, paths);

    // 1-3. The download; whatever file it made goes when the run ends, a body
    // that is not the image too.
    const auto download = target.session.download(platform::URLRequest{release.dmg}, target.limits);
    if (download.error) throw TransportError(*download.error);
    paths.image = download.response.filePath;
    if (!paths.image.empty()) cleanUp.add([image = paths.image] { ::unlink(image.c_str()); });
    if (download.response.exceededMaxBytes || paths.image.empty() ||
        (download.response.isHTTP && download.response.statusCode != 200)) {
        throw Failure::download();
    }

    // 4-5. The digest, read in pieces: images of any size, never in memory.
    if (sha256HexOfFile(paths.image) != asciiLower(release.sha256)) throw Failure::checksum();

    // 6. A mount directory only this user can enter, locked while this run
    // lasts, and removed once empty.
    paths.mount = temporary + "/" + kMountPrefix + makeUUID();
    std::error_code ignored;
    std::filesystem::create_directories(temporary, ignored);
    if (::mkdir(paths.mount.c_str(), 0700) != 0) throw SystemError::fromErrno(errno, paths.mount);
    int mountLock = -1;
    lockFolder(paths.mount, mountLock);
    cleanUp.add([mount = paths.mount, mountLock] {
        ::rmdir(mount.c_str());
        if (mountLock >= 0) ::close(mountLock);
    });

    // 7-8.
    if (run(tools.attach, paths).status != 0) throw Failure::install("the disk image would not open");
    cleanUp.add([&tools, paths] { run(tools.detach, paths); });

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
    if (run(tools.verify, paths).status != 0) throw Failure::signature("the signature does not verify");
    if (hasControlCharacter(*found) || !namesTeam(run(tools.details, paths).output, tools, target.team)) {
        throw Failure::signature("another team");
    }
    const InstalledApp candidate = candidateVersion(target.files, paths.app, release, target.runningBuild);
    if (run(tools.assess, paths).status != 0) throw Failure::signature("Gatekeeper refused it");

    // 15. A copy beside the installed app, on its file system, so that the
    // replacement is one rename. A copy that failed halfway is not kept.
    paths.staging = folder + "/." + appName + ".update-" + makeUUID();
    if (run(tools.copy, paths).status != 0) {
        removeTree(paths.staging);
        throw Failure::install(folder + " is not writable");
    }

    // 16-17. One replacement, no backup.
    if (const auto error = target.files.replaceItem(installed, paths.staging)) {
        removeTree(paths.staging);
        throw Failure::install(error->localizedDescription);
    }
    return candidate;
}

}  // namespace corvidale::Updater
