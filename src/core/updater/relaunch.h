#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/platform/platform.h"
#include "target_system.h"

namespace corvidale::updater {

// `text` as one /bin/sh word that reads back as exactly `text` (which, like
// any path, holds no NUL byte).
std::string doubleQuoted(std::string_view text);

// How long the relaunch waits for the old process to be gone before it
// reopens the bundle anyway.
inline constexpr int kRelaunchWaitTenths = 100;

// The /bin/sh command text that reopens the bundle at `bundlePath` once the
// process `oldProcess` has gone (0: one second from now). The path sits inside
// double quotes with the four characters that the shell still reads there
// escaped, so any path reopens exactly that bundle and runs nothing else.
std::string relaunchCommand(std::string_view bundlePath, TargetSystem system = kThisSystem,
                            std::int64_t oldProcess = 0);

// Starts a detached shell that reopens the running bundle once this process
// has gone, then asks the application to terminate. A shell that does not
// start does not stop the termination.
void relaunch(platform::Platform& platform);

}  // namespace corvidale::updater
