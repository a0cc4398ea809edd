#include "writer.h"

#include <sys/stat.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <set>
#include <string>

#include "common/fs.h"
#include "delta.h"

namespace corvidale::tools::delta {
namespace {

constexpr int kLevel = 19;
// A release tool reads what it compares whole, whatever its size.
constexpr std::size_t kAnySize = std::numeric_limits<std::size_t>::max();

class Output {
public:
    explicit Output(int fd) : fd_(fd) {}
    void bytes(std::string_view data) {
        if (const int error = writeAll(fd_, data.data(), data.size()); error != 0) {
            throw ToolError(std::string("cannot write the delta: ") + std::strerror(error));
        }
        written += data.size();
    }
    void number(std::uint64_t value, int size) {
        char raw[8];
        for (int i = 0; i < size; ++i) raw[i] = static_cast<char>(value >> (8 * i) & 0xFF);
        bytes({raw, static_cast<std::size_t>(size)});
    }
    void head(Kind kind, const std::string& path) {
        const char kindByte = static_cast<char>(kind);
        bytes({&kindByte, 1});
        number(path.size(), 2);
        bytes(path);
    }
    std::uint64_t written = 0;

private:
    int fd_;
};

// One zstd frame of `data`, made with `prefix` as what came before it.
std::string compress(std::string_view data, std::optional<std::string_view> prefix) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    if (!context) throw std::bad_alloc();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, kLevel);
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
    const int largest = prefix ? kMaxWindowLog : kMaxFileWindowLog;
    int window = 20;
    while (window < largest && (std::uint64_t{1} << window) < data.size() + (prefix ? prefix->size() : 0)) ++window;
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, window);
    if (prefix) {
        // Matches reach back into the old file over its whole length.
        ZSTD_CCtx_setParameter(context, ZSTD_c_enableLongDistanceMatching, 1);
        ZSTD_CCtx_refPrefix(context, prefix->data(), prefix->size());
    }
    std::string out(ZSTD_compressBound(data.size()), '\0');
    const std::size_t size = ZSTD_compress2(context, out.data(), out.size(), data.data(), data.size());
    ZSTD_freeCCtx(context);
    if (ZSTD_isError(size)) throw ToolError(std::string("cannot compress: ") + ZSTD_getErrorName(size));
    out.resize(size);
    return out;
}

class Walk {
public:
    explicit Walk(int outFd) : out_(outFd) {}

    void folder(int oldFd, int newFd, const std::string& prefix, int depth) {
        if (depth > kMaxDepth) throw ToolError("the bundle is nested too deeply");
        const auto oldNames = oldFd >= 0 ? listDirectory(oldFd) : std::vector<std::string>();
        const auto newNames = listDirectory(newFd);
        const std::set<std::string> kept(newNames.begin(), newNames.end());
        // What went, or changes kind, goes first: its name may come back as something else.
        std::vector<std::string> sameKind;
        for (const std::string& name : oldNames) {
            const bool gone = !kept.contains(name) ||
                              (statEntry(oldFd, name).st_mode & S_IFMT) != (statEntry(newFd, name).st_mode & S_IFMT);
            if (gone) {
                out_.head(Kind::Removal, prefix + name);
                ++summary.removals;
            } else {
                sameKind.push_back(name);
            }
        }
        for (const std::string& name : newNames) {
            const bool hadIt = std::binary_search(sameKind.begin(), sameKind.end(), name);
            entry(hadIt ? oldFd : -1, newFd, name, prefix, depth);
        }
    }

    WriteSummary summary;

private:
    void entry(int oldFd, int newFd, const std::string& name, const std::string& prefix, int depth) {
        const std::string path = prefix + name;
        if (!isDeltaPath(path)) throw ToolError("a path a delta cannot carry: " + encodeName(path));
        const struct stat info = statEntry(newFd, name);
        const mode_t mode = info.st_mode & 0777;
        struct stat oldInfo {};
        if (oldFd >= 0) oldInfo = statEntry(oldFd, name);
        const struct stat* old = oldFd >= 0 ? &oldInfo : nullptr;
        if (S_ISDIR(info.st_mode)) {
            if (!old || (old->st_mode & 0777) != mode) {
                out_.head(Kind::Folder, path);
                out_.number(mode, 4);
            }
            const Fd newChild = openDirectory(newFd, name);
            const Fd oldChild = old ? openDirectory(oldFd, name) : Fd();
            folder(old ? oldChild.get() : -1, newChild.get(), path + "/", depth + 1);
        } else if (S_ISLNK(info.st_mode)) {
            const std::string target = linkTarget(newFd, name);
            if (old && linkTarget(oldFd, name) == target) return;
            out_.head(Kind::Link, path);
            out_.number(target.size(), 2);
            out_.bytes(target);
        } else if (S_ISREG(info.st_mode)) {
            file(oldFd, newFd, name, path, mode, old);
        } else {
            throw ToolError("the bundle holds a device, pipe or socket: " + encodeName(path));
        }
    }

    void file(int oldFd, int newFd, const std::string& name, const std::string& path, mode_t mode,
              const struct stat* old) {
        const std::string data = readSmallFile(newFd, name, kAnySize);
        std::optional<std::string> before;
        if (old) before = readSmallFile(oldFd, name, kAnySize);
        const mode_t oldMode = old ? old->st_mode & 0777 : 0;
        if (before && *before == data && oldMode == mode) return;
        std::string frame = compress(data, std::nullopt);
        Kind kind = Kind::File;
        if (before && !before->empty() && before->size() <= kMaxPatchBytes && data.size() <= kMaxPatchBytes) {
            std::string patch = compress(data, *before);
            if (patch.size() < frame.size()) frame = std::move(patch), kind = Kind::Patch;
        }
        out_.head(kind, path);
        out_.number(mode, 4);
        out_.number(data.size(), 8);
        out_.number(frame.size(), 8);
        out_.bytes(frame);
        ++(kind == Kind::Patch ? summary.patches : summary.files);
    }

    Output out_;
};

}  // namespace

WriteSummary writeDelta(int oldFd, int newFd, int outFd) {
    Walk walk(outFd);
    const std::string magic(kMagic);
    if (const int error = writeAll(outFd, magic.data(), magic.size()); error != 0) {
        throw ToolError(std::string("cannot write the delta: ") + std::strerror(error));
    }
    walk.folder(oldFd, newFd, "", 0);
    const char end[] = {static_cast<char>(Kind::End), 0, 0};
    if (const int error = writeAll(outFd, end, sizeof end); error != 0) {
        throw ToolError(std::string("cannot write the delta: ") + std::strerror(error));
    }
    return walk.summary;
}

}  // namespace corvidale::tools::delta
