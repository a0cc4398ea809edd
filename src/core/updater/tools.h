#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "target_system.h"

namespace corvidale::Updater {

// What one run of a command-line tool came to.
struct ToolResult {
    // The exit status; the signal number when a signal ended it; -1 when it
    // could not be started.
    std::int32_t status = -1;
    // Standard output and standard error as one stream, decoded as UTF-8; the
    // start error's text when it could not be started.
    std::string output;
};

// How long a tool may take unless its row says otherwise, and how much of its
// output is kept.
inline constexpr double kToolSeconds = 900;
inline constexpr std::size_t kMaxToolOutputBytes = 16 << 20;

struct ToolOptions {
    // The whole run, whatever the tool leaves behind: at the deadline its
    // process group is killed.
    double seconds = kToolSeconds;
    // Output past this is read and dropped, so the tool never blocks on a full
    // pipe and memory stays bounded.
    std::size_t maxOutputBytes = kMaxToolOutputBytes;
    // A descriptor that the tool and its children keep open (-1: none): a lock
    // on it stays held for as long as any of them lives.
    int sharedFd = -1;
    // Told the tool's process group as soon as the tool runs.
    std::function<void(int processGroup)> started;
};

// Runs `path` with `arguments` (argv[1] onwards), never through a shell, with
// this process's environment and working folder and /dev/null as its input,
// in a process group of its own. Reads what the tool writes while it runs, so
// any amount of output passes. Returns once the tool has exited, or at the
// deadline; either way nothing of its process group is left running. Never
// throws.
ToolResult runTool(const std::string& path, const std::vector<std::string>& arguments,
                   const ToolOptions& options = {});

// `bytes` as UTF-8, each invalid sequence (its maximal part) replaced by U+FFFD.
std::string decodeUTF8(std::string_view bytes);

// The SHA-256 as 64 lower-case hexadecimal digits.
std::string sha256Hex(std::string_view bytes);
// The same of a file, read in pieces: the file is never held in memory, and
// files of any size work. Throws SystemError when it cannot be read.
std::string sha256HexOfFile(const std::string& path);

// Removes the item at `path` and everything below it, never following a
// symbolic link, and making folders writable first so that read-only folders
// inside do not stop it. Errors are ignored: what stays is removed next time.
void removeTree(const std::string& path);

// A fresh random UUID in its standard text form: 36 characters, upper-case
// hexadecimal digits in groups of 8-4-4-4-12.
std::string makeUUID();

// One tool of the installation, before the paths of one run are known: an
// argument starting with one of the marks below starts with that path instead.
//   {image} the downloaded image   {mount} the mount directory
//   {app}   the new app            {staging} the staging copy
//   {helpers} (executables only) the installed app's own helper folder
// The executable may start with any of them.
struct ToolRow {
    std::string executable;
    std::vector<std::string> arguments;
    double seconds = kToolSeconds;
};

// The tools of one platform, and the details line that names the developer
// team (the team id follows it).
struct ToolTable {
    ToolRow attach, verify, details, assess, copy, detach;
    std::string teamLinePrefix = "TeamIdentifier=";
};

const ToolTable& toolTable(TargetSystem system = kThisSystem);

// The paths of one run, for the marks of a ToolRow.
struct ToolPaths {
    std::string image, mount, app, staging, helpers;
};

struct ToolCommand {
    std::string executable;
    std::vector<std::string> arguments;
    double seconds = kToolSeconds;
};

ToolCommand commandFor(const ToolRow& row, const ToolPaths& paths);

// Whether the details output names exactly the pinned team: exactly one line
// starts with the team line prefix, and that whole line is the prefix and
// `team`. An empty team matches nothing.
bool namesTeam(std::string_view detailsOutput, const ToolTable& table, std::string_view team);

}  // namespace corvidale::Updater
