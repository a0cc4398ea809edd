// A delta turns one release's bundle into the next: the files that are new or
// changed (whole, or as a patch against the old file where that is smaller),
// the folders and links that are new, and the paths that went. It is only a
// way to rebuild the new bundle; what it rebuilds is verified like any other.
//
// The stream: kMagic, then records, each a kind byte and a path (two bytes of
// length, little-endian, then the path relative to the bundle), then
//   'd' folder:  four bytes of mode
//   'f' file:    four bytes of mode, eight of size, eight of length, then that
//                many bytes of one zstd frame holding the file
//   'p' patch:   the same, the frame made with the old file at the same path
//                as its prefix
//   'l' link:    two bytes of length and the link's target
//   'r' removal: nothing more
// and last 'e' with an empty path, after which nothing may follow.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace corvidale::tools::delta {

inline constexpr std::string_view kMagic = "CORVIDALE DELTA 1\n";

enum class Kind : char { Folder = 'd', File = 'f', Patch = 'p', Link = 'l', Removal = 'r', End = 'e' };

// Neither side of a patch may be larger: the reader keeps the old file mapped
// and zstd a window as large as both.
inline constexpr std::uint64_t kMaxPatchBytes = 128ULL << 20;
inline constexpr int kMaxWindowLog = 28;
// A whole file needs no more than this window.
inline constexpr int kMaxFileWindowLog = 24;
inline constexpr std::size_t kMaxPathBytes = 4096;
// Neither the writer nor the reader's copy goes deeper into a bundle.
inline constexpr int kMaxDepth = 128;

struct Limits {
    std::uint64_t maxOutputBytes = 16ULL << 30;  // all files together
    std::uint64_t maxRecords = 1'000'000;
};

// Where a delta's contents go.
class FileOutput {
public:
    virtual ~FileOutput() = default;
    virtual void write(std::string_view bytes) = 0;
    // The file is whole: it takes its place.
    virtual void finish() = 0;
};

class Sink {
public:
    virtual ~Sink() = default;
    virtual void remove(const std::string& path) = 0;
    virtual void makeFolder(const std::string& path, mode_t mode) = 0;
    virtual void makeLink(const std::string& path, const std::string& target) = 0;
    virtual std::unique_ptr<FileOutput> makeFile(const std::string& path, mode_t mode) = 0;
    // The old file at `path`, valid until the next call; at most kMaxPatchBytes.
    virtual std::string_view oldFile(const std::string& path) = 0;
};

// A path a delta may name: relative, of plain components (no "", "." or
// ".."), no NUL, not too long.
bool isDeltaPath(std::string_view path);

// Reads the delta from `fd` to its end and hands each record to `sink`.
// Throws ToolError for a delta that is not one, is cut short, lies about a
// size or goes past `limits`; what the sink throws passes through.
void readDelta(int fd, Sink& sink, const Limits& limits = {});

}  // namespace corvidale::tools::delta
