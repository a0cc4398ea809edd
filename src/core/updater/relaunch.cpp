#include "relaunch.h"

#include <unistd.h>

namespace corvidale::updater {

std::string doubleQuoted(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '$' || c == '`' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

namespace {

// Waits, a tenth of a second at a time and for a bounded while, until the old
// process is gone: a new instance started while it is still alive would hand
// itself over to the dying one. On Linux an exited process that its parent has
// not reaped yet counts as gone.
std::string waitFor(std::int64_t process, TargetSystem system) {
    if (process <= 0) return "sleep 1; ";
    const std::string id = std::to_string(process);
    std::string alive = "kill -0 " + id + " 2>/dev/null";
    if (system == TargetSystem::Linux) {
        alive += " && case $(cat /proc/" + id + "/stat 2>/dev/null) in *\") Z \"*) false;; esac";
    }
    return "i=0; while [ $i -lt " + std::to_string(kRelaunchWaitTenths) + " ] && " + alive +
           "; do sleep 0.1; i=$((i+1)); done; ";
}

}  // namespace

std::string relaunchCommand(std::string_view bundlePath, TargetSystem system, std::int64_t oldProcess) {
    if (system == TargetSystem::Mac) return waitFor(oldProcess, system) + "/usr/bin/open " + doubleQuoted(bundlePath);
    // No open(1) for a bundle on Linux: the bundle's own executable, started
    // in the shell's place.
    return waitFor(oldProcess, system) + "exec " + doubleQuoted(std::string(bundlePath) + "/Contents/MacOS/corvidale");
}

void relaunch(platform::Platform& platform) {
    platform.process().startDetached(
        "/bin/sh", {"-c", relaunchCommand(platform.bundle().bundlePath(), kThisSystem, ::getpid())});
    platform.application().terminate();
}

}  // namespace corvidale::updater
