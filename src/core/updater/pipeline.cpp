#include "pipeline.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <variant>
#include <vector>

#include "core/util/digest.h"
#include "core/util/text.h"
#include "core/util/tree.h"
#include "failure.h"
#include "install_run.h"
#include "version.h"

namespace corvidale::updater {
namespace {

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

// The path extension is exactly "app", after a name of its own.
bool isAppName(std::string_view name) { return name.size() > 4 && name.ends_with(".app"); }

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string withMessage(std::string text, const std::string& message) {
    return message.empty() ? text : text + " (" + message + ")";
}

// Where the installed app is, refusing a location the updater must not
// touch.
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

bool isCancelled(const InstallTarget& target) { return target.cancelled && target.cancelled->load(); }

// Tells the installation's watcher how far it is: each new stage, and the
// download a few times a second.
class ProgressReport {
public:
    explicit ProgressReport(const InstallTarget& target) : target_(target) {}
    void stage(InstallProgress::Stage stage) { tell({stage, 0, std::nullopt}, true); }
    void downloaded(std::uint64_t received, std::optional<std::uint64_t> expected) {
        tell({InstallProgress::Stage::Downloading, received, expected}, false);
    }

private:
    void tell(const InstallProgress& progress, bool always) {
        const auto now = std::chrono::steady_clock::now();
        if (!target_.progress || (!always && now - last_ < std::chrono::milliseconds(250))) return;
        last_ = now;
        target_.progress(progress);
    }
    const InstallTarget& target_;
    std::chrono::steady_clock::time_point last_{};
};

// What a run installs from: the release's image, or a delta from the
// installed build that the installed app's helper rebuilds the release from.
struct Source {
    std::string url, sha256;
    const ToolRow& row;
    const char* mountName;
    const char* failure;  // what a status other than 0 of `row` means
};

// The download, into the run's folder, and its digest, read in pieces:
// images of any size, never in memory. `file` is its path as soon as there is one.
void downloadAndCheckDigest(const Source& source, const InstallTarget& target, const std::string& runFolder,
                            ProgressReport& report, std::string& file) {
    const platform::DownloadWatch watch{[&](std::uint64_t received, std::optional<std::uint64_t> expected) {
        report.downloaded(received, expected);
        return !isCancelled(target);
    }};
    const auto download =
        target.session.download(platform::URLRequest{source.url}, target.limits, runFolder, watch);
    if (download.error) throw TransportError(*download.error);
    file = download.response.filePath;
    if (download.response.exceededMaxBytes || file.empty() ||
        (download.response.isHTTP && download.response.statusCode != 200)) {
        throw Failure::download();
    }
    if (sha256HexOfFile(file) != asciiLower(source.sha256)) throw Failure::checksum();
}

// Attaches the image (or rebuilds the release) at a mount directory only
// this user can enter, to be detached when the run ends, and finds its first
// entry named *.app, which must be a folder of its own, not a link to one
// elsewhere. Answers its name.
std::string attachImage(const ToolTable& tools, const Source& source, ToolPaths& paths, const RunFolder& work,
                        const ToolOptions& checking, CleanUp& cleanUp) {
    paths.mount = work.path() + "/" + source.mountName;
    if (::mkdir(paths.mount.c_str(), 0700) != 0) throw SystemError::fromErrno(errno, paths.mount);
    // The detach runs to its end whatever stopped the run.
    const ToolOptions& options = work.toolOptions();
    if (const auto attached = runRow(source.row, paths, checking); attached.status != 0) {
        // Stopped, it may have got as far as attaching.
        if (checking.stop && checking.stop()) runRow(tools.detach, paths, options);
        throw Failure::install(withMessage(source.failure, toolMessage(attached, source.row)));
    }
    cleanUp.add([&tools, paths, options] { runRow(tools.detach, paths, options); });
#if defined(__linux__)
    // Attaching extracted the whole image, so the download is of no more use;
    // kept, its pages would be written out to the disk along with the
    // extraction and the copy, and the copy would wait for them.
    ::unlink(paths.image.c_str());
#endif
    const auto entries = listDirectory(paths.mount);
    const auto found = std::find_if(entries.begin(), entries.end(), [](const auto& name) { return isAppName(name); });
    if (found == entries.end() || !isDirectory(paths.mount + "/" + *found)) {
        throw Failure::install("no app in the disk image");
    }
    paths.app = paths.mount + "/" + *found;
    return *found;
}

// A bundle's Info.plist, read once; a file that is there and cannot be read
// is the system's error, not a different app.
std::unique_ptr<platform::Bundle> readBundle(platform::FileManager& files, const std::string& app) {
    auto read = files.bundleAt(app);
    if (auto* error = std::get_if<platform::Error>(&read)) throw SystemError(std::move(*error));
    return std::move(std::get<std::unique_ptr<platform::Bundle>>(read));
}

// What the candidate has to beat, read under the lock from the installed app
// as it is now: another copy of the app, started earlier or later, may have
// put a newer build in place since this one started, or one that pins another
// key.
struct Installed {
    std::int64_t build = 0;
    std::optional<SigningPins> pins;
    std::int64_t onDisk = 0;  // the installed app's own build: what a delta must start from
};

Installed readInstalled(const InstallTarget& target, const Location& location) {
    const auto installed = readBundle(target.files, location.installed);
    const std::int64_t onDisk = currentBuild(*installed);
    return {std::max(target.runningBuild, onDisk), pinnedSigners(*installed), onDisk};
}

// The candidate's own version. Its build must be the one the feed published
// and newer than the installed one: a genuinely signed old build must never
// come back under a newer claim. Its version text reaches the same places as
// the feed's, and passes the same test.
InstalledApp candidateVersion(const platform::Bundle& candidate, const Release& release, std::int64_t runningBuild) {
    const auto value = candidate.infoValue("CFBundleVersion");
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
    const std::string version = versionFromInfo(candidate.infoValue("CFBundleShortVersionString"));
    if (hasControlCharacter(version)) throw Failure::install("the app in the disk image has a version with control characters");
    return {version, *build};
}

// The same app, sealed, by the team the installed app pins, the published
// build; in that order. The team line must not come from a name the bundle
// chose.
InstalledApp validateApp(const Release& release, const InstallTarget& target, const Installed& installed,
                         const ToolTable& tools, const ToolPaths& paths, const ToolOptions& options,
                         const std::string& appName) {
    const auto candidate = readBundle(target.files, paths.app);
    if (candidate->bundleIdentifier() != target.bundleIdentifier) throw Failure::signature("a different app");
    if (runRow(tools.verify, paths, options).status != 0) throw Failure::signature("the signature does not verify");
    if (hasControlCharacter(appName) ||
        !signedByPins(runRow(tools.details, paths, options).output, tools, installed.pins)) {
        throw Failure::signature("another team");
    }
    // Once installed, its own pins decide every later update.
    if (!pinnedSigners(*candidate)) {
        throw Failure::install("the app in the disk image pins no signing keys it could take an update from");
    }
    return candidateVersion(*candidate, release, installed.build);
}

// Flushes the copy to the disk, its files' contents and every folder's
// entries, so that a power cut after the swap cannot leave a half-written app
// in place. Answers 0 or the error.
int syncTree(const std::string& path) {
#if defined(__linux__)
    // One call for the whole file system instead of one journal commit per file.
    const Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return errno;
    return ::syncfs(fd.get()) == 0 ? 0 : errno;
#else
    const Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return errno == ELOOP ? 0 : errno;  // a link is flushed with its folder
    struct stat info {};
    int result = ::fstat(fd.get(), &info) == 0 ? 0 : errno;
    if (result == 0 && S_ISDIR(info.st_mode)) {
        try {
            for (const auto& name : listDirectory(fd.get(), path)) {
                if (result == 0) result = syncTree(path + "/" + name);
            }
        } catch (const PosixError& error) {
            result = error.errorNumber();
        }
    }
    if (result == 0 && ::fsync(fd.get()) != 0) result = errno;
    return result;
#endif
}

// That the staged copy starts, and that it is still what its seal says,
// since starting it may have changed it. It runs where it is, beside the
// installed app, which can run programs (that app does), whatever the
// temporary folder allows. A copy the system will not even start is told as
// such.
void checkStagedCopy(const ToolTable& tools, const ToolPaths& paths, const ToolOptions& options,
                     const std::string& folder) {
    ToolPaths staged = paths;
    staged.app = paths.staging;
    const auto started = runRow(tools.assess, staged, options);
    if (started.startError != 0) {
        throw Failure::install("the system would not run the new app in " + folder + " (" +
                               std::strerror(started.startError) + ")");
    }
    if (started.status != 0) throw Failure::signature("Gatekeeper refused it");
    if (runRow(tools.verify, staged, options).status != 0) throw Failure::signature("the signature does not verify");
}

// Copies the new app beside the installed one, on its file system so that
// the replacement is one rename, checks the copy and flushes it. What it was
// made from goes first (`cleanUp`): the flush would otherwise write all of
// that to the disk as well, only for it to be removed. A copy that fails
// halfway, or any check, is not kept.
void stageCopy(const ToolTable& tools, const ToolPaths& paths, const ToolOptions& options, const std::string& folder,
               CleanUp& cleanUp) {
    const auto copied = runRow(tools.copy, paths, options);
    if (copied.status != 0) {
        removeTreeQuietly(paths.staging);
        if (::access(folder.c_str(), W_OK) != 0) throw Failure::install(folder + " is not writable");
        throw Failure::install(withMessage("couldn't copy the app into " + folder, toolMessage(copied, tools.copy)));
    }
    cleanUp.runNow();
    try {
        checkStagedCopy(tools, paths, options, folder);
        if (const int error = syncTree(paths.staging); error != 0) {
            throw Failure::install("couldn't save the copy in " + folder + ": " + std::strerror(error));
        }
    } catch (...) {
        removeTreeQuietly(paths.staging);
        throw;
    }
}

// One replacement, no backup; then the folder's new entry is flushed. The
// swap has happened by then: there is nothing left to undo.
void swapIn(platform::FileManager& files, const Location& location, const std::string& staging) {
    if (const auto error = files.replaceItem(location.installed, staging)) {
        removeTreeQuietly(staging);
        throw Failure::install(error->localizedDescription);
    }
    if (const Fd fd(::open(location.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); fd) ::fsync(fd.get());
}

// One run's state, as the steps up to the checks share it.
struct Run {
    const Release& release;
    const InstallTarget& target;
    const ToolTable& tools;
    const Installed& installed;
    const RunFolder& work;
    ToolPaths& paths;
    CleanUp& cleanUp;
    ProgressReport& report;
};

// Downloads, attaches and checks the app from `source`. What runs until the
// checks are done stops as soon as the caller asks.
InstalledApp candidateFrom(const Source& source, Run& run) {
    ToolOptions checking = run.work.toolOptions();
    checking.stop = [&target = run.target] { return isCancelled(target); };
    run.report.stage(InstallProgress::Stage::Downloading);
    downloadAndCheckDigest(source, run.target, run.work.path(), run.report, run.paths.image);
    run.report.stage(InstallProgress::Stage::Checking);
    if (isCancelled(run.target)) throw InstallCancelled();
    const std::string appName = attachImage(run.tools, source, run.paths, run.work, checking, run.cleanUp);
    const InstalledApp candidate =
        validateApp(run.release, run.target, run.installed, run.tools, run.paths, checking, appName);
    if (isCancelled(run.target)) throw InstallCancelled();
    return candidate;
}

// The release rebuilt from a delta when the feed has one from exactly the
// installed build and this system's tools can rebuild; whatever goes wrong
// with it, the full image, in the same run. A delta is only a shorter way to
// the same bundle, which passes every check the image's would.
InstalledApp fromDeltaOrImage(Run& run) {
    const auto& deltas = run.release.deltas;
    const auto delta = std::find_if(deltas.begin(), deltas.end(),
                                    [&](const Delta& each) { return each.from == run.installed.onDisk; });
    if (delta != deltas.end() && !run.tools.rebuild.executable.empty()) {
        try {
            return candidateFrom({delta->url, delta->sha256, run.tools.rebuild, "rebuilt", "the delta would not apply"},
                                 run);
        } catch (...) {
            if (isCancelled(run.target)) throw InstallCancelled();
            const std::string reason = describe(std::current_exception()).diagnostic;
            run.cleanUp.runNow();
            // Nothing of it is written out with the copy.
            if (!run.paths.image.empty()) ::unlink(run.paths.image.c_str());
            run.paths.image.clear();
            if (run.target.log) {
                run.target.log("[update] the delta from build " + std::to_string(delta->from) + " was not used (" +
                               reason + "); installing the full image");
            }
        }
    }
    return candidateFrom({run.release.imageURL, run.release.sha256, run.tools.attach, "volume",
                          "the disk image would not open"},
                         run);
}

}  // namespace

platform::DownloadLimits downloadLimits(const std::optional<std::string>& maxBytesDefault) {
    std::uint64_t maxBytes = kDefaultMaxDownloadBytes;
    if (const auto raised = maxBytesDefault ? parseDecimal(*maxBytesDefault) : std::nullopt;
        raised && static_cast<std::uint64_t>(std::max<std::int64_t>(*raised, 0)) > maxBytes) {
        maxBytes = static_cast<std::uint64_t>(*raised);
    }
    return {maxBytes,           kMinDownloadBytesPerSecond,        kDownloadStallSeconds,
            kDownloadGraceSeconds, kMinAverageDownloadBytesPerSecond, kMaxDownloadSeconds};
}

std::optional<SigningPins> pinnedSigners(const platform::Bundle& bundle, TargetSystem system) {
    if (system == TargetSystem::Mac) return SigningPins{{kMacTeamIdentifier}, 1};
    const auto text = [&bundle](const char* key) -> std::optional<std::string> {
        const auto value = bundle.infoValue(key);
        if (!value) return std::nullopt;
        // Another type than a string reads as a text no rule accepts.
        return value->kind == platform::PlistValue::Kind::String ? value->text : std::string("?");
    };
    const auto keys = text(kPinnedKeysKey), threshold = text(kSigningThresholdKey);
    return keys ? parsePins(*keys, threshold) : std::nullopt;
}

InstallTarget installTarget(platform::Platform& platform) {
    auto& bundle = platform.bundle();
    InstallTarget target{bundle.bundlePath(),
                         bundle.bundleIdentifier(),
                         platform.urlSession(),
                         platform.fileManager(),
                         downloadLimits(platform.defaults().string(kMaxDownloadBytesKey)),
                         currentBuild(bundle)};
    target.log = [&process = platform.process()](const std::string& line) { process.writeStderr(line); };
    return target;
}

InstalledApp installRelease(const Release& release, const InstallTarget& target, const ToolTable& tools) {
    const Location location = locateInstalledApp(target);
    // One installation of this app at a time: a second one would take the
    // first's staging copy for a leftover.
    const StateFolder state(target.files.cachesDirectory());
    const InstallLock lock(location, state);
    const Installed installed = readInstalled(target, location);
    // Found out now, before the download: the lock no longer lies beside the app.
    if (::access(location.folder.c_str(), W_OK) != 0) throw Failure::install(location.folder + " is not writable");
    ToolPaths paths;
    paths.helpers = location.installed + "/Contents/Helpers";
    paths.installed = location.installed;
    const std::string temporary = target.files.temporaryDirectory();
    removeLeftovers(location, temporary, tools, paths, state);
    const RunFolder work(temporary, state);
    CleanUp cleanUp;  // runs before the folder goes

    ProgressReport report(target);
    Run run{release, target, tools, installed, work, paths, cleanUp, report};
    InstalledApp candidate;
    try {
        candidate = fromDeltaOrImage(run);
    } catch (...) {
        // Whatever the stop broke off reads as a failure of its own.
        if (isCancelled(target)) throw InstallCancelled();
        throw;
    }
    report.stage(InstallProgress::Stage::Installing);
    paths.staging = stagingPath(location);
    stageCopy(tools, paths, work.toolOptions(), location.folder, cleanUp);
    swapIn(target.files, location, paths.staging);
    return candidate;
}

}  // namespace corvidale::updater
