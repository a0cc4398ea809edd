#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/platform/platform.h"
#include "install_target.h"
#include "tool_table.h"

namespace corvidale::updater {

// Images are at most this large, unless the user default raises the cap.
inline constexpr std::uint64_t kDefaultMaxDownloadBytes = 2ULL << 30;
inline constexpr const char* kMaxDownloadBytesKey = "updateMaxDownloadBytes";
// A download slower than this for this long is broken off.
inline constexpr std::uint64_t kMinDownloadBytesPerSecond = 1024;
inline constexpr double kDownloadStallSeconds = 60;
// However steadily it moves, a download may take a minute plus its size at
// 16 KiB a second (ten minutes for 9 MB), and four hours at most: a server
// that drips keeps the installation, and so the next one, waiting no longer.
inline constexpr double kDownloadGraceSeconds = 60;
inline constexpr std::uint64_t kMinAverageDownloadBytesPerSecond = 16 * 1024;
inline constexpr double kMaxDownloadSeconds = 4 * 3600;
// The team every macOS release is signed by.
inline constexpr const char* kMacTeamIdentifier = "K4W9PZ2TQ7";
// Dropped by the system package beside the bundle it installs: that bundle is
// the package manager's to replace, not ours.
inline constexpr const char* kPackageManagedMarker = ".package-managed";

// The bounds of the image download. `maxBytesDefault` is the user default,
// a decimal count that can only raise the cap.
platform::DownloadLimits downloadLimits(const std::optional<std::string>& maxBytesDefault);

// Who an update must be signed by: the one team on macOS; on Linux the key
// ids and threshold a bundle's Info.plist pins (none when they are missing or
// malformed: no update is accepted).
std::optional<SigningPins> pinnedSigners(const platform::Bundle& bundle, TargetSystem system = kThisSystem);

// What an installation needs, read on the main thread.
InstallTarget installTarget(platform::Platform& platform);

// Downloads the release's image, checks its digest, attaches it, checks the
// app in it (identity, signature, team, that its own build is the published
// one and newer than the running one, that it starts), copies it beside the
// installed app and swaps it in with one replacement. Blocks: worker thread
// only. Throws a Failure, or the system's own error (TransportError,
// SystemError). At every instant the installed path holds a whole app, the
// old one or the new one; what an interrupted run left behind is removed by
// the next.
InstalledApp installRelease(const Release& release, const InstallTarget& target, const ToolTable& tools = toolTable());

}  // namespace corvidale::updater
