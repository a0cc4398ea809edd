#include "relaunch.h"

namespace corvidale::Updater {

std::string doubleQuoted(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '$' || c == '`' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string relaunchCommand(std::string_view bundlePath, TargetSystem system) {
    if (system == TargetSystem::Mac) return "sleep 1; /usr/bin/open " + doubleQuoted(bundlePath);
    // No open(1) for a bundle on Linux: the bundle's own executable, started
    // in the shell's place.
    return "sleep 1; exec " + doubleQuoted(std::string(bundlePath) + "/Contents/MacOS/corvidale");
}

void relaunch(platform::Platform& platform) {
    platform.process().startDetached("/bin/sh", {"-c", relaunchCommand(platform.bundle().bundlePath())});
    platform.application().terminate();
}

}  // namespace corvidale::Updater
