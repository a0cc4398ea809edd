#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvidale {

inline constexpr std::size_t kMaxFilenameBytes = 255;

// Makes a name from the server or the page safe to use inside the Downloads
// folder: only its last path component, no control characters, "download"
// for an empty, "." or ".." name, and at most kMaxFilenameBytes bytes with the
// extension kept and no UTF-8 character cut in two.
std::string sanitizeFilename(std::string_view suggested);

struct FilenameParts {
    std::string base;
    std::string extension;  // without the dot; empty when there is none
};

// Splits off the last extension only: "archive.tar.gz" -> "archive.tar", "gz".
// A leading dot does not start an extension (".bashrc" has none).
FilenameParts splitExtension(const std::string& name);

// "base N.ext", or "base N" without an extension, shortened to fit the limit.
std::string numberedFilename(const FilenameParts& parts, unsigned long long number);

struct Destination {
    std::string path;
    // True when an empty file was created there for the download to fill, so
    // nothing that appears meanwhile can be overwritten.
    bool claimed = false;
};

// The first free name in `folder` for `suggested`: the name itself, then
// "base 2.ext", "base 3.ext" and so on. A name is taken when anything exists
// there (folders and dangling links too), when `reserved` says so (names given
// to downloads still running), or when it cannot be created exclusively.
Destination uniqueDestination(const std::string& folder, std::string_view suggested,
                              const std::function<bool(const std::string& path)>& reserved);

// Removes the empty file uniqueDestination() created at `path` when the
// download it was made for never wrote to it; anything with content stays.
void releaseUnusedClaim(const std::string& path);

// Whether `bytes` are well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

}  // namespace corvidale
