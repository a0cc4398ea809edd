#include "world.h"

#include <cstdlib>
#include <filesystem>

#ifndef CORVIDALE_E2E_APP
#error "CORVIDALE_E2E_APP (the app's executable) must be defined by the build"
#endif
#ifndef CORVIDALE_E2E_ARTIFACTS
#error "CORVIDALE_E2E_ARTIFACTS (the folder for screenshots and logs) must be defined by the build"
#endif

namespace corvidale::e2e {
namespace {

std::unique_ptr<World>& instance() {
    static std::unique_ptr<World> world;
    return world;
}

}  // namespace

World::World() : scratch_("world") {}

World& World::get() {
    auto& world = instance();
    if (!world) world.reset(new World());
    return *world;
}

void World::shutdown() { instance().reset(); }

const std::string& World::display() {
    if (!xvfb_) xvfb_ = std::make_unique<Xvfb>(scratch_ / "xvfb.log");
    return xvfb_->display();
}

const TlsMaterial& World::tls() {
    if (!tls_) {
        const std::string folder = scratch_ / "tls";
        makeDirectories(folder, 0700);
        tls_ = std::make_unique<TlsMaterial>(TlsMaterial::create(folder));
    }
    return *tls_;
}

std::string World::appExecutable() const {
    if (const char* chosen = std::getenv("CORVIDALE_E2E_APP"); chosen && *chosen) return chosen;
    return CORVIDALE_E2E_APP;
}

std::string World::bundleDir() const {
    return std::filesystem::path(appExecutable()).parent_path().parent_path().parent_path().string();
}

std::string World::artifactsDir() const {
    if (const char* chosen = std::getenv("CORVIDALE_E2E_ARTIFACTS"); chosen && *chosen) return chosen;
    return CORVIDALE_E2E_ARTIFACTS;
}

}  // namespace corvidale::e2e
