// The manifest that a bundle's signature covers: one line per entry of the
// bundle, in a fixed order, naming its kind, its permission bits, its path and
// its content (the SHA-256 of a file, the target of a symbolic link).
#pragma once

#include <string>
#include <vector>

namespace corvidale::tools {

// Where the signature lives inside a bundle; the manifest leaves it out.
inline constexpr const char* kSignatureFolder = "Contents/_CodeSignature";

// The manifest of the bundle open at `bundleFd`. Throws ToolError for an entry
// that can't be read, a kind of file that a bundle has no business holding
// (device, pipe, socket), an entry that others than its owner may write, a
// tree nested too deeply or a manifest too large.
std::string computeManifest(int bundleFd);

// Lines describing how `actual` differs from `expected` ("added: path", ...),
// at most `limit` of them.
std::vector<std::string> describeDifferences(const std::string& expected, const std::string& actual,
                                             std::size_t limit);

// The largest manifest either side accepts.
inline constexpr std::size_t kMaxManifestBytes = 64 * 1024 * 1024;

}  // namespace corvidale::tools
