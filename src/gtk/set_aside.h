#pragma once

#include <optional>
#include <string>

namespace corvidale::gtk {

// Moves whatever is at `path` (a file, a folder, a link, a pipe) out of the
// way to "<path>.corrupt", or "<path>.corrupt.N" when that is taken, so that
// nothing in it is lost and a fresh one can take its place. Answers where it
// went; nullopt with errno set when it could not be moved (ENOENT: nothing
// was there).
std::optional<std::string> setAside(const std::string& path);

}  // namespace corvidale::gtk
