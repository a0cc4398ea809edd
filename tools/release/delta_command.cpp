// The delta between two published images: both are extracted into a
// temporary folder of their own, and the bundles on their top levels are
// compared.
#include "delta_command.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/fs.h"
#include "core/util/child_process.h"
#include "core/util/tree.h"
#include "delta/writer.h"

namespace corvidale::tools {
namespace {

constexpr const char* kUnsquashfs = "/usr/bin/unsquashfs";

// The one bundle on the image's top level, extracted into `folder`.
std::string extractBundle(const std::string& image, const std::string& folder) {
    ChildOptions options;
    options.maxOutputBytes = 64 * 1024;
    const std::string imageArg = image.starts_with("-") ? "./" + image : image;
    const ChildResult run =
        runChild(kUnsquashfs, {"-no-xattrs", "-no-progress", "-quiet", "-d", folder, imageArg}, options);
    if (run.startError != 0) throw PosixError(run.startError, "cannot start", kUnsquashfs);
    if (!run.exited || run.status != 0) throw ToolError("cannot extract " + encodeName(image));
    for (const std::string& name : listDirectory(folder)) {
        if (name.size() > 4 && name.ends_with(".app")) return folder + "/" + name;
    }
    throw ToolError("no app in " + encodeName(image));
}

class TemporaryFolder {
public:
    TemporaryFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/corvidale-delta-XXXXXX";
        if (!::mkdtemp(pattern.data())) throw PosixError(errno, "cannot make a folder in", pattern);
        path_ = pattern;
    }
    ~TemporaryFolder() { removeTreeQuietly(path_); }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace

int runDelta(std::vector<std::string> args) {
    std::string from, to, out;
    while (args.size() >= 2) {
        std::string& slot = args[0] == "--from" ? from : args[0] == "--to" ? to : args[0] == "-o" ? out : args[0];
        if (&slot == &args[0]) throw UsageError("unknown option " + encodeName(args[0]));
        slot = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (!args.empty() || from.empty() || to.empty() || out.empty()) {
        throw UsageError("delta needs --from <old image> --to <new image> -o <file>");
    }
    const TemporaryFolder work;
    const std::string oldApp = extractBundle(from, work.path() + "/from");
    const std::string newApp = extractBundle(to, work.path() + "/to");
    // Whole or not at all: a delta cut short never stands at its name.
    const std::string temporary = out + ".new";
    ::unlink(temporary.c_str());
    const Fd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file) throw PosixError(errno, "cannot write", temporary);
    delta::WriteSummary summary;
    try {
        summary = delta::writeDelta(openDirectory(AT_FDCWD, oldApp).get(), openDirectory(AT_FDCWD, newApp).get(),
                                    file.get());
        if (::fsync(file.get()) != 0 || ::rename(temporary.c_str(), out.c_str()) != 0) {
            throw PosixError(errno, "cannot write", out);
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    std::printf("%s: %llu files whole, %llu patched, %llu removed\n", encodeName(out).c_str(),
                static_cast<unsigned long long>(summary.files), static_cast<unsigned long long>(summary.patches),
                static_cast<unsigned long long>(summary.removals));
    return 0;
}

}  // namespace corvidale::tools
