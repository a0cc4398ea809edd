#pragma once

#include <cstdint>
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

// Runs `path` with `arguments` (argv[1] onwards), never through a shell, with
// this process's environment and working folder. Reads everything the tool
// writes before waiting for it, so any amount of output fits. Blocks until the
// tool has exited; never throws.
ToolResult runTool(const std::string& path, const std::vector<std::string>& arguments);

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
struct ToolRow {
    std::string executable;
    std::vector<std::string> arguments;
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
};

ToolCommand commandFor(const ToolRow& row, const ToolPaths& paths);

// Whether the details output names exactly the pinned team: exactly one line
// starts with the team line prefix, and that whole line is the prefix and
// `team`. An empty team matches nothing.
bool namesTeam(std::string_view detailsOutput, const ToolTable& table, std::string_view team);

}  // namespace corvidale::Updater
