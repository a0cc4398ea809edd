#include "installer.h"

#include "failure.h"

namespace corvidale::Updater {
namespace {

// Until the installation pipeline exists, every release is refused plainly,
// never reported as installed.
class UnavailableInstaller final : public Installer {
public:
    void installRelease(const Release&, const InstallTarget&) override {
        throw Failure::install("the installer is not part of this build");
    }
};

}  // namespace

std::shared_ptr<Installer> makeInstaller() { return std::make_shared<UnavailableInstaller>(); }

}  // namespace corvidale::Updater
