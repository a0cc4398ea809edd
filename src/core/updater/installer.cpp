#include "installer.h"

#include "pipeline.h"

namespace corvidale::updater {
namespace {

class PipelineInstaller final : public Installer {
public:
    InstalledApp installRelease(const Release& release, const InstallTarget& target) override {
        return updater::installRelease(release, target);
    }
};

}  // namespace

std::shared_ptr<Installer> makeInstaller() { return std::make_shared<PipelineInstaller>(); }

}  // namespace corvidale::updater
