#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvidale {

inline constexpr std::size_t kMaxFilenameBytes = 255;

// How many names uniqueDestination() tries before it gives up.
inline constexpr unsigned kMaxDestinationAttempts = 10000;

// Makes a name from the server or the page safe to use inside the Downloads
// folder: only its last path component, no control characters, "download"
// for an empty, "." or ".." name, and at most `maxBytes` bytes with the
// extension kept and no UTF-8 character cut in two.
std::string sanitizeFilename(std::string_view suggested, std::size_t maxBytes = kMaxFilenameBytes);

struct FilenameParts {
    std::string base;
    std::string extension;  // without the dot; empty when there is none
};

// Splits off the last extension only: "archive.tar.gz" -> "archive.tar", "gz".
// A leading dot does not start an extension (".bashrc" has none).
FilenameParts splitExtension(const std::string& name);

// "base N.ext", or "base N" without an extension, shortened to fit `maxBytes`.
std::string numberedFilename(const FilenameParts& parts, unsigned long long number,
                             std::size_t maxBytes = kMaxFilenameBytes);

struct Destination {
    std::string path;
    // True when an empty file was created there for the download to fill, so
    // nothing that appears meanwhile can be overwritten.
    bool claimed = false;
    // Why no name could be found; `path` is empty then.
    std::optional<std::string> problem;
};

// The first free name in `folder` for `suggested`: the name itself, then
// "base 2.ext", "base 3.ext" and so on. A name is taken when anything exists
// there (folders and dangling links too), when `reserved` says so (names given
// to downloads still running), or when it cannot be created exclusively.
//
// `temporarySuffix` is what the engine appends to the name while it writes
// (it renames the file at the end). Names leave room for it, and a name whose
// temporary sibling exists is taken: a link planted there would otherwise
// lead the engine's writes out of the folder.
//
// Gives up with a `problem` when the folder cannot be examined or
// kMaxDestinationAttempts names are taken.
Destination uniqueDestination(const std::string& folder, std::string_view suggested,
                              const std::function<bool(const std::string& path)>& reserved,
                              std::string_view temporarySuffix = {});

// Removes the empty file uniqueDestination() created at `path` when the
// download it was made for never wrote to it; anything with content stays.
void releaseUnusedClaim(const std::string& path);
// Removes the regular file at `path`, never what a link there points to.
void removePartial(const std::string& path);

}  // namespace corvidale
