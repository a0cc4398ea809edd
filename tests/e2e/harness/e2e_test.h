#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app.h"
#include "origin_server.h"
#include "pages.h"
#include "process.h"
#include "tls.h"
#include "util.h"
#include "world.h"
#include "x11.h"

namespace corvidale::e2e {

// How long a healthy run may take for the things tests wait on. Generous: two
// cores, a cold engine start and a sanitizer build all have to fit.
inline constexpr Millis kStartTimeout = 60s;
inline constexpr Millis kEventTimeout = 30s;

class E2eTest : public ::testing::Test {
protected:
    // Clears what an earlier run of this test left in its artifact folder.
    void SetUp() override;

    World& world() { return World::get(); }
    const std::string& display() { return world().display(); }

    // The test's origin server, started on first use.
    OriginServer& server();
    std::unique_ptr<OriginServer> makeServer() { return std::make_unique<OriginServer>(world().tls()); }
    // The test's user, made on first use.
    Profile& profile();

    std::unique_ptr<App> launch(const LaunchOptions& options, Profile* as = nullptr) {
        return std::make_unique<App>(as ? *as : profile(), options);
    }
    // Launches with CORVIDALE_ORIGIN at `pathAndQuery` on the app host of server().
    std::unique_ptr<App> launchAt(const std::string& pathAndQuery, LaunchOptions options = {},
                                  Profile* as = nullptr);

    // A file in this test's artifact folder (created on demand).
    std::string artifactPath(const std::string& name);

    // A real click in the middle of the web view.
    void clickPage(App& app);
    // Waits until step `step` of the steps page served by `origin` is armed,
    // clicks it, and waits until the page saw the click.
    void clickStep(App& app, const OriginServer& origin, int step);

    // Closes the window with Ctrl+W and expects the process to end with status 0.
    void closeWithKeyboardAndExpectCleanExit(App& app);

private:
    std::unique_ptr<OriginServer> server_;
    std::unique_ptr<Profile> profile_;
};

// Text for failure messages.
std::string joinLines(const std::vector<std::string>& lines);

}  // namespace corvidale::e2e
