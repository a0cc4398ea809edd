// corvidale-image: the disk images of Linux releases are squashfs images, and
// this tool "attaches" one by extracting it into an empty directory and
// "detaches" it by removing what was extracted. It also "rebuilds" a release
// from the installed app and a delta into such a directory.
//
// unsquashfs alone keeps names inside its destination, but run as root it also
// restores device nodes, set-user-ID bits, foreign owners and file
// capabilities, gives its destination the mode stored in the image, and can be
// asked to write far more than the download weighed. So the image is listed
// first and refused if it holds anything an application bundle has no use for
// or is too large once extracted; it is then extracted into a folder only this
// user can enter, checked again on disk, and only then moved into view.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/fs.h"
#include "delta/delta.h"
#include "delta/tree.h"
#include "core/util/child_process.h"
#include "core/util/tree.h"
#include "listing.h"

namespace corvidale::tools {
namespace {

constexpr const char* kUnsquashfs = "/usr/bin/unsquashfs";
constexpr const char* kMarker = ".corvidale-mount";
constexpr const char* kStaging = ".corvidale-extract";
constexpr std::size_t kMaxListingLine = 64 * 1024;
constexpr int kMaxDepth = 128;
// Less free space than this after a failed extraction counts as a full disk.
constexpr std::uint64_t kFreeBytesForFull = 1 << 20;

constexpr const char* kUsage =
    "usage: corvidale-image attach <image> <empty directory>\n"
    "       corvidale-image detach <directory>\n"
    "       corvidale-image rebuild <delta> <installed app> <empty directory>\n";

// Runs unsquashfs with its standard error ours, and answers its exit status
// (-1 when it did not exit); its standard output goes line by line to
// `onLine`, or nowhere without one. What `onLine` throws ends it.
int runUnsquashfs(const std::vector<std::string>& arguments, const std::function<void(const std::string&)>& onLine) {
    ChildOptions options;
    // Whoever stops this tool by its process group stops unsquashfs too, and
    // a lock this tool was handed stays held while unsquashfs runs.
    options.ownProcessGroup = false;
    options.inheritDescriptors = true;
    options.errorsToOutput = false;
    options.maxOutputBytes = 0;
    std::string line;
    if (onLine) {
        options.onOutput = [&](std::string_view piece) {
            for (const char c : piece) {
                if (c != '\n') {
                    line.push_back(c);
                    if (line.size() > kMaxListingLine) throw ToolError("the image lists a name too long");
                    continue;
                }
                onLine(line);
                line.clear();
            }
        };
    }
    const ChildResult run = runChild(kUnsquashfs, arguments, options);
    if (run.startError != 0) throw PosixError(run.startError, "cannot start", kUnsquashfs);
    if (onLine && !line.empty()) onLine(line);
    return run.exited ? run.status : -1;
}

// What unsquashfs made, checked on disk: the listing may not tell all, and
// as root the owners stored in the image must not reach the installed app.
void checkExtracted(int dirFd, int depth) {
    if (depth > kMaxDepth) throw ToolError("the image is nested too deeply");
    const bool root = ::geteuid() == 0;
    for (const std::string& name : listDirectory(dirFd)) {
        const struct stat info = statEntry(dirFd, name);
        if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode) && !S_ISLNK(info.st_mode)) {
            throw ToolError("the image holds a device, pipe or socket: " + encodeName(name));
        }
        if ((info.st_mode & (S_ISUID | S_ISGID)) != 0) {
            throw ToolError("the image holds a set-user-ID or set-group-ID file: " + encodeName(name));
        }
        if (root && (info.st_uid != ::geteuid() || info.st_gid != ::getegid()) &&
            ::fchownat(dirFd, name.c_str(), ::geteuid(), ::getegid(), AT_SYMLINK_NOFOLLOW) != 0) {
            throw ToolError("cannot change the owner of " + encodeName(name));
        }
        if (S_ISDIR(info.st_mode)) {
            const Fd child = openDirectory(dirFd, name);
            checkExtracted(child.get(), depth + 1);
        }
    }
}

void extract(const std::string& image, const std::string& mountPath, int mountFd) {
    // unsquashfs reads an argument starting with '-' as an option.
    const std::string imageArg = image[0] == '-' ? "./" + image : image;
    ListingCheck check;
    if (runUnsquashfs({"-lln", imageArg}, std::ref(check)) != 0) {
        throw ToolError("the image cannot be read");
    }
    if (::mkdirat(mountFd, kStaging, 0700) != 0) throw ToolError("cannot make the extraction folder");
    const std::string staging = mountPath + "/" + kStaging;
    // Its queues default to 256 MB each, which it fills with an image this
    // size: 16 MB each keep it under 40 MB at the same speed (measured on
    // 225 MB: 1.22 s against 1.20 s, peak 37 MB against 231 MB).
    if (runUnsquashfs({"-no-xattrs", "-no-progress", "-quiet", "-strict-errors", "-force", "-da", "16", "-fr", "16",
                       "-dest", staging, imageArg},
                      nullptr) != 0) {
        // Checked before the half-extracted files go: a full disk is the
        // user's to fix, not a broken image.
        struct statvfs space {};
        if (::fstatvfs(mountFd, &space) == 0 &&
            (space.f_bavail * space.f_frsize < kFreeBytesForFull || (space.f_files > 0 && space.f_favail == 0))) {
            throw ToolError("there is no space left in " + encodeName(mountPath) + " to extract the image");
        }
        throw ToolError("the image cannot be extracted");
    }
    const Fd stagingFd = openDirectory(mountFd, kStaging);
    checkExtracted(stagingFd.get(), 0);
    for (const std::string& name : listDirectory(stagingFd.get())) {
        if (::renameat2(stagingFd.get(), name.c_str(), mountFd, name.c_str(), RENAME_NOREPLACE) != 0) {
            throw ToolError("cannot move " + encodeName(name) + " into place: " + std::strerror(errno));
        }
    }
    if (::unlinkat(mountFd, kStaging, AT_REMOVEDIR) != 0) throw ToolError("cannot remove the extraction folder");
}

// The mount directory: this user's, empty, and made private, with the marker
// that detach looks for.
Fd prepareMount(const std::string& mountPath) {
    Fd mount = openDirectory(AT_FDCWD, mountPath);
    struct stat mountInfo {};
    if (::fstat(mount.get(), &mountInfo) != 0 || mountInfo.st_uid != ::geteuid()) {
        throw ToolError("the mount directory belongs to another user");
    }
    if (!listDirectory(mount.get()).empty()) throw ToolError("the mount directory is not empty");
    // Nobody else may look at, or slip anything into, what is extracted.
    if (::fchmod(mount.get(), 0700) != 0) throw ToolError("cannot protect the mount directory");
    writeNewFile(mount.get(), kMarker, "corvidale-image\n", 0600);
    return mount;
}

// Runs `fill`, and on any failure leaves the mount directory as empty as a
// detach would.
void filling(int mountFd, const std::function<void()>& fill) {
    try {
        fill();
    } catch (...) {
        try {
            removeContents(mountFd);
        } catch (const ToolError&) {
        }
        throw;
    }
}

Fd openRegularFile(const std::string& path, const char* what) {
    Fd file(path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        throw ToolError(std::string("not ") + what + ": " + encodeName(path));
    }
    return file;
}

int attach(const std::string& image, const std::string& mountArg) {
    openRegularFile(image, "an image file");
    const std::string mountPath = withoutTrailingSlashes(mountArg);
    const Fd mount = prepareMount(mountPath);
    filling(mount.get(), [&] { extract(image, mountPath, mount.get()); });
    return 0;
}

// Rebuilds the next release from the installed app and a delta: a copy of
// the app, the delta applied to it, and only then moved into view under the
// installed app's name. The installed app is only read.
int rebuild(const std::string& deltaPath, const std::string& installedArg, const std::string& mountArg) {
    const Fd deltaFile = openRegularFile(deltaPath, "a delta file");
    const std::filesystem::path installed(withoutTrailingSlashes(installedArg));
    const std::string name = installed.filename().string();
    if (name.empty() || name == "." || name == "..") throw ToolError("not an app: " + encodeName(installedArg));
    const Fd installedFolder = openDirectory(AT_FDCWD, installed.has_parent_path() ? installed.parent_path().string() : ".");
    const Fd mount = prepareMount(withoutTrailingSlashes(mountArg));
    filling(mount.get(), [&] {
        if (::mkdirat(mount.get(), kStaging, 0700) != 0) throw ToolError("cannot make the extraction folder");
        const Fd staging = openDirectory(mount.get(), kStaging);
        delta::copyTree(installedFolder.get(), staging.get(), name);
        {
            const Fd app = openDirectory(staging.get(), name);
            delta::TreeSink sink(app.get());
            delta::readDelta(deltaFile.get(), sink, {kMaxExtractedBytes, kMaxEntries});
            sink.finish();
        }
        if (::renameat2(staging.get(), name.c_str(), mount.get(), name.c_str(), RENAME_NOREPLACE) != 0) {
            throw ToolError("cannot move " + encodeName(name) + " into place: " + std::strerror(errno));
        }
        if (::unlinkat(mount.get(), kStaging, AT_REMOVEDIR) != 0) throw ToolError("cannot remove the extraction folder");
    });
    return 0;
}

int detach(const std::string& mountArg) {
    const std::string mountPath = withoutTrailingSlashes(mountArg);
    const Fd mount = openDirectory(AT_FDCWD, mountPath);
    struct stat marker {};
    if (::fstatat(mount.get(), kMarker, &marker, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(marker.st_mode)) {
        throw ToolError("nothing is attached at " + encodeName(mountPath));
    }
    // The marker goes last, so that a detach cut short can be run again.
    for (const std::string& name : listDirectory(mount.get())) {
        if (name != kMarker) removeTree(mount.get(), name);
    }
    if (::unlinkat(mount.get(), kMarker, 0) != 0 || ::rmdir(mountPath.c_str()) != 0) {
        throw ToolError("cannot remove " + encodeName(mountPath) + ": " + std::strerror(errno));
    }
    return 0;
}

int run(const std::vector<std::string>& args) {
    if (args.size() == 3 && args[0] == "attach") return attach(args[1], args[2]);
    if (args.size() == 2 && args[0] == "detach") return detach(args[1]);
    if (args.size() == 4 && args[0] == "rebuild") return rebuild(args[1], args[2], args[3]);
    throw UsageError("unknown command");
}

}  // namespace
}  // namespace corvidale::tools

int main(int argc, char** argv) {
    using namespace corvidale::tools;
    // A pipeline that stops reading must not kill us halfway through a removal.
    ::signal(SIGPIPE, SIG_IGN);
    return runMain("corvidale-image", kUsage, argc, argv, run);
}
