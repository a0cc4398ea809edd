#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace corvidale::updater {

// What one run of a command-line tool came to.
struct ToolResult {
    // The exit status; the signal number when a signal ended it; -1 when it
    // could not be started.
    std::int32_t status = -1;
    // Standard output and standard error as one stream, decoded as UTF-8; the
    // start error's text when it could not be started.
    std::string output;
    // Why it could not be started (an errno value), or 0.
    int startError = 0;
};

// How long a tool may take unless its row says otherwise, and how much of its
// output is kept.
inline constexpr double kToolSeconds = 900;
inline constexpr std::size_t kMaxToolOutputBytes = 16 << 20;

struct ToolOptions {
    // The whole run, whatever the tool leaves behind: at the deadline its
    // process group is killed.
    double seconds = kToolSeconds;
    // Output past this is read and dropped.
    std::size_t maxOutputBytes = kMaxToolOutputBytes;
    // A descriptor that the tool and its children keep open (-1: none): a lock
    // on it stays held for as long as any of them lives.
    int sharedFd = -1;
    // Told the tool's process group as soon as the tool runs.
    std::function<void(int processGroup)> started;
    // Asked while the tool runs: answering true ends it (its whole group) at once.
    std::function<bool()> stop;
};

// Runs `path` with `arguments` as runChild does (its own process group,
// /dev/null as input, bounded in time and output, nothing of it left
// running afterwards), its output and errors as one stream. A tool that
// cannot be started is a result, not an exception.
ToolResult runTool(const std::string& path, const std::vector<std::string>& arguments,
                   const ToolOptions& options = {});

}  // namespace corvidale::updater
