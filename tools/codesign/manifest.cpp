#include "manifest.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <map>

#include "common/fs.h"
#include "core/util/digest.h"

namespace corvidale::tools {
namespace {

constexpr std::string_view kHeader = "corvidale-manifest 1\n";

// Deeper than any real bundle; each level holds one descriptor open.
constexpr int kMaxDepth = 128;

std::string modeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

class ManifestWriter {
public:
    std::string take() { return std::move(text_); }

    void add(const char* kind, mode_t mode, const std::string& path, const std::string& content) {
        // Whoever may write an entry may swap the code it holds. (A link's
        // own bits mean nothing.)
        if (!S_ISLNK(mode) && (mode & (S_IWGRP | S_IWOTH)) != 0) {
            throw ToolError("writable by others than its owner: " + encodeName(path));
        }
        text_ += kind;
        text_ += ' ';
        text_ += modeText(mode);
        text_ += ' ';
        text_ += encodeName(path);
        text_ += ' ';
        text_ += content;
        text_ += '\n';
        if (text_.size() > kMaxManifestBytes) throw ToolError("the bundle has too many entries");
    }

    void walk(int dirFd, const std::string& prefix, int depth) {
        if (depth > kMaxDepth) throw ToolError("nested too deeply: " + encodeName(prefix));
        for (const std::string& name : listDirectory(dirFd)) {
            const std::string path = prefix.empty() ? name : prefix + "/" + name;
            if (path == kSignatureFolder) continue;
            const struct stat info = statEntry(dirFd, name);
            if (S_ISREG(info.st_mode)) {
                add("file", info.st_mode, path, digestOf(dirFd, name, info));
            } else if (S_ISLNK(info.st_mode)) {
                add("link", info.st_mode, path, encodeName(linkTarget(dirFd, name)));
            } else if (S_ISDIR(info.st_mode)) {
                add("dir", info.st_mode, path, "-");
                const Fd child = openDirectory(dirFd, name);
                walk(child.get(), path, depth + 1);
            } else {
                throw ToolError("not a file, directory or symbolic link: " + encodeName(path));
            }
        }
    }

private:
    static std::string digestOf(int dirFd, const std::string& name, const struct stat& expected) {
        // O_NONBLOCK: should the entry have become a pipe since it was
        // examined, opening it must not hang.
        const Fd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat info {};
        if (!fd || ::fstat(fd.get(), &info) != 0) throw ToolError("cannot open " + encodeName(name));
        if (!S_ISREG(info.st_mode) || info.st_ino != expected.st_ino || info.st_dev != expected.st_dev) {
            throw ToolError("changed while being read: " + encodeName(name));
        }
        return sha256HexOfFile(fd.get(), name);
    }

    std::string text_{kHeader};
};

// path -> whole line, for the lines after the header.
std::map<std::string, std::string> linesByPath(const std::string& manifest) {
    std::map<std::string, std::string> lines;
    std::size_t start = 0;
    while (start < manifest.size()) {
        std::size_t end = manifest.find('\n', start);
        if (end == std::string::npos) end = manifest.size();
        const std::string line = manifest.substr(start, end - start);
        start = end + 1;
        const std::size_t first = line.find(' ');
        const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
        const std::size_t third = second == std::string::npos ? second : line.find(' ', second + 1);
        if (third == std::string::npos) continue;
        lines.emplace(line.substr(second + 1, third - second - 1), line);
    }
    return lines;
}

}  // namespace

std::string computeManifest(int bundleFd) {
    struct stat root {};
    if (::fstat(bundleFd, &root) != 0) throw ToolError("cannot examine the bundle");
    ManifestWriter writer;
    writer.add("dir", root.st_mode, ".", "-");
    writer.walk(bundleFd, "", 0);
    return writer.take();
}

std::vector<std::string> describeDifferences(const std::string& expected, const std::string& actual,
                                             std::size_t limit) {
    std::vector<std::string> out;
    const auto before = linesByPath(expected);
    const auto after = linesByPath(actual);
    const auto note = [&](const char* what, const std::string& path) {
        if (out.size() < limit) out.push_back(std::string(what) + ": " + path);
    };
    for (const auto& [path, line] : before) {
        const auto found = after.find(path);
        if (found == after.end()) {
            note("removed", path);
        } else if (found->second != line) {
            note("changed", path);
        }
    }
    for (const auto& [path, line] : after) {
        if (!before.contains(path)) note("added", path);
    }
    if (out.empty()) out.emplace_back("the manifest differs from the bundle");
    return out;
}

}  // namespace corvidale::tools
