#include "e2e_test.h"

#include <algorithm>
#include <filesystem>

namespace corvidale::e2e {

OriginServer& E2eTest::server() {
    if (!server_) server_ = makeServer();
    return *server_;
}

Profile& E2eTest::profile() {
    if (!profile_) profile_ = std::make_unique<Profile>();
    return *profile_;
}

std::unique_ptr<App> E2eTest::launchAt(const std::string& pathAndQuery, LaunchOptions options, Profile* as) {
    options.origin = server().appUrl(pathAndQuery);
    return launch(options, as);
}

void E2eTest::SetUp() {
    std::error_code ignored;
    std::filesystem::remove_all(currentTestArtifactFolder(), ignored);
}

std::string E2eTest::artifactPath(const std::string& name) {
    const std::string path = currentTestArtifactFolder();
    std::filesystem::create_directories(path);
    return path + "/" + name;
}

void E2eTest::clickPage(App& app) {
    // Below any menu bar, well inside the 1100 x 760 content area.
    ASSERT_TRUE(x11::click(app.display(), app.window(), 550, 420));
}

void E2eTest::clickStep(App& app, const OriginServer& origin, int step) {
    const std::string number = std::to_string(step);
    ASSERT_TRUE(origin.waitForExactReport("armed " + number, kEventTimeout))
        << "step " << number << " was never armed\n"
        << origin.describeTraffic() << "\n"
        << app.describe();
    clickPage(app);
    const bool clicked = waitUntil(
        [&] {
            for (const auto& text : origin.reports()) {
                if (text == "clicked " + number || text.rfind("clicked " + number + " ", 0) == 0) return true;
            }
            return false;
        },
        kEventTimeout);
    ASSERT_TRUE(clicked) << "the click on step " << number << " did not reach the page\n" << origin.describeTraffic();
}

void E2eTest::closeWithKeyboardAndExpectCleanExit(App& app) {
    ASSERT_TRUE(x11::key(app.display(), app.window(), "ctrl+w"));
    const auto status = app.waitForExit(kEventTimeout);
    ASSERT_TRUE(status.has_value()) << "still running after Ctrl+W\n" << app.describe();
    EXPECT_TRUE(status->success()) << status->describe() << "\n" << app.describe();
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += "  " + line + "\n";
    return text.empty() ? "  (none)\n" : text;
}

}  // namespace corvidale::e2e
