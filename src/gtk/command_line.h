#pragma once

#include <map>
#include <string>
#include <vector>

namespace corvidale::gtk {

// What the command line asks for. Besides --help and --version the shell
// understands only the argument domain of the user defaults: "-key value"
// pairs that override preferences for one run, as on the desktop platforms.
struct CommandLine {
    bool help = false;
    bool version = false;
    std::map<std::string, std::string> argumentDomain;
    // Arguments written as URLs ("scheme:..."): links for the application to
    // open, which the core reads and may refuse.
    std::vector<std::string> links;
    // Arguments that mean nothing to the shell; they are never handed to
    // GLib, whose own option parser would refuse them.
    std::vector<std::string> ignored;
};

CommandLine parseCommandLine(int argc, const char* const* argv);

std::string usageText();

}  // namespace corvidale::gtk
