#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/platform/file_manager.h"
#include "core/platform/url_session.h"
#include "feed.h"

namespace corvidale::updater {

// How far an installation is: the image's download, then the checks of what
// it holds, then the copy and the swap, which are no longer stopped.
struct InstallProgress {
    enum class Stage { Downloading, Checking, Installing };
    Stage stage = Stage::Downloading;
    std::uint64_t received = 0;
    std::optional<std::uint64_t> expected;
};

// An installation stopped by its caller before it put anything in place.
struct InstallCancelled : std::exception {
    const char* what() const noexcept override { return "the installation was cancelled"; }
};

// What an installation needs of the running application and the system,
// gathered on the main thread before it starts.
struct InstallTarget {
    std::string bundlePath;  // the bundle to replace
    std::optional<std::string> bundleIdentifier;
    platform::URLSession& session;
    platform::FileManager& files;
    platform::DownloadLimits limits;
    // The build that runs now (or was installed since it started): an update
    // must be newer than this, and than the installed app's own. The team the
    // new app must be signed by is the one the installed app pins.
    std::int64_t runningBuild = 0;
    // Told, on the installation's thread, as it moves on, a few times a
    // second at most; may be empty.
    std::function<void(const InstallProgress&)> progress{};
    // Set from any thread to stop the installation while it downloads or
    // checks; it then throws InstallCancelled, having changed nothing.
    std::shared_ptr<const std::atomic<bool>> cancelled{};
    // Told, on the installation's thread, what the log should keep (a delta
    // given up for the full image); may be empty.
    std::function<void(const std::string&)> log{};
};

// What an installation put in place, as the new bundle itself says: a feed's
// claim is never taken for it.
struct InstalledApp {
    std::string version;
    std::int64_t build = 0;
};

// Puts a release in place of the running application. Runs on a worker
// thread; returns what is on disk now, or throws a Failure, a TransportError
// or a SystemError. It shows nothing and touches no controller's state.
using Installer = std::function<InstalledApp(const Release& release, const InstallTarget& target)>;

}  // namespace corvidale::updater
