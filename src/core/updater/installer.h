#pragma once

#include <memory>
#include <optional>
#include <string>

#include "core/platform/file_manager.h"
#include "core/platform/url_session.h"
#include "feed.h"

namespace corvidale::Updater {

// What an installation needs of the running application and the system,
// gathered on the main thread before it starts.
struct InstallTarget {
    std::string bundlePath;  // the bundle to replace
    std::optional<std::string> bundleIdentifier;
    platform::URLSession& session;
    platform::FileManager& files;
    // The developer team (on Linux, the signing key id) the new app must be
    // signed by; empty accepts no app at all.
    std::string team;
    platform::DownloadLimits limits;
};

// Puts a release in place of the running application. Runs on a worker
// thread; returns when the new bundle is on disk, or throws a Failure, a
// TransportError or a SystemError. It shows nothing and touches no Delegate
// state.
class Installer {
public:
    virtual ~Installer() = default;
    virtual void installRelease(const Release& release, const InstallTarget& target) = 0;
};

// The installer this build ships with.
std::shared_ptr<Installer> makeInstaller();

}  // namespace corvidale::Updater
