// Small file-system helpers shared by the release tools, on top of the
// core's POSIX layer. Everything works relative to directory descriptors and
// never follows a symbolic link, because the trees these tools walk come from
// downloads and must be treated as hostile.
#pragma once

#include <sys/stat.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/util/posix.h"

namespace corvidale::tools {

// A failure the tool reports as its one-line message and non-zero status.
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A command line the tool does not take: its usage follows the message.
struct UsageError : ToolError {
    using ToolError::ToolError;
};

// Runs the tool's command on its arguments (argv[1] onwards) and answers the
// exit status: 2 with the usage for a UsageError, 1 with one line for any
// other failure, names in the system's errors encoded.
int runMain(const char* tool, const char* usage, int argc, char** argv,
            int (*command)(const std::vector<std::string>& arguments));

// Bytes outside a small set of plain characters become %XX, so that any name
// (newlines, '=', invalid UTF-8 ...) prints on one line and two different
// names never print alike. '/' is kept: it never occurs inside a name.
std::string encodeName(std::string_view raw);

// The path without trailing slashes, so that opening it does not follow a
// symbolic link in its last component.
std::string withoutTrailingSlashes(std::string path);

struct stat statEntry(int dirFd, const std::string& name);

// The target of the symbolic link `name` in `dirFd`; ToolError when it is
// none or longer than a path may be.
std::string linkTarget(int dirFd, const std::string& name);

// Writes a new file (it must not exist yet) with the given mode.
void writeNewFile(int dirFd, const std::string& name, std::string_view data, mode_t mode);

}  // namespace corvidale::tools
