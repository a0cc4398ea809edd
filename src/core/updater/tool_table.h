#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "signing_pins.h"
#include "target_system.h"
#include "tool_runner.h"

namespace corvidale::updater {

// One tool of the installation, before the paths of one run are known: an
// argument starting with one of the marks below starts with that path instead.
//   {image} the downloaded image   {mount} the mount directory
//   {app}   the new app            {staging} the staging copy
//   {installed} the installed app
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
    // Rebuilds the release from {installed} and the delta at {image} into
    // {mount}, detached as an image is; none where deltas are not taken.
    ToolRow rebuild{};
    std::string teamLinePrefix = "TeamIdentifier=";
    // The team line lists every key that signed, separated by commas.
    bool teamLineListsKeys = false;
};

const ToolTable& toolTable(TargetSystem system = kThisSystem);

// The paths of one run, for the marks of a ToolRow.
struct ToolPaths {
    std::string image, mount, app, staging, helpers, installed;
};

struct ToolCommand {
    std::string executable;
    std::vector<std::string> arguments;
    double seconds = kToolSeconds;
};

ToolCommand commandFor(const ToolRow& row, const ToolPaths& paths);

// Runs the row's command for one run's paths, within the row's time.
ToolResult runRow(const ToolRow& row, const ToolPaths& paths, ToolOptions options = {});

// Whether the details output shows enough pinned signers: exactly one line
// starts with the team line prefix, and at least the threshold of distinct
// pinned keys are named in the rest of it (where the table lists keys, every
// one a well-formed key id). No pins match nothing.
bool signedByPins(std::string_view detailsOutput, const ToolTable& table, const std::optional<SigningPins>& pins);

// What a tool said about its failure: its last line, when the tool wrote it
// under its own name as the system's tools do (anything else may come from
// the download), without control characters and cut short; "" otherwise.
std::string toolMessage(const ToolResult& result, const ToolRow& row);

}  // namespace corvidale::updater
