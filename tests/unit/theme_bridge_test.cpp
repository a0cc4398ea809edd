#include <gtest/gtest.h>

#include "core/app/delegate.h"
#include "core/web/theme_bridge.h"
#include "fake_platform.h"

namespace corvidale {
namespace {

using testing::FakePlatform;

class ThemeBridge : public ::testing::Test {
protected:
    void SetUp() override {
        p.env["CORVIDALE_ORIGIN"] = "https://app.example.com:8443/";
        delegate.applicationDidFinishLaunching();  // dark, from the absent default
        p.stderrLines.clear();
    }
    void post(std::optional<std::string> body, bool mainFrame = true, std::string host = "app.example.com",
              std::string name = "corvidaleTheme") {
        delegate.didReceiveScriptMessage({std::move(name), mainFrame, std::move(host), std::move(body)});
    }
    FakePlatform p;
    Delegate delegate{p};
};

TEST_F(ThemeBridge, FollowsThePageAndLogsOnlyRealSwitches) {
    post("light");
    post("light");
    post("dark");
    post("Dark");  // anything but "light" is dark
    post("sepia");
    post("light");
    EXPECT_EQ(p.stderrLines, (std::vector<std::string>{"[theme] window appearance → light",
                                                       "[theme] window appearance → dark",
                                                       "[theme] window appearance → light"}));
    EXPECT_EQ(p.currentAppearance, platform::Appearance::Light);
    EXPECT_EQ(p.stored["lastAppTheme"], "light");
}

TEST_F(ThemeBridge, StoresTheNormalizedThemeOnEveryAcceptedMessage) {
    p.calls.clear();
    post("DARK");
    EXPECT_EQ(p.calls, std::vector<std::string>{"defaults.set lastAppTheme=dark"}) << "already dark: stored only";
    post("light");
    post("Light");
    EXPECT_EQ(p.stored["lastAppTheme"], "dark");
    EXPECT_EQ(p.stderrLines.back(), "[theme] window appearance → Light");
}

TEST_F(ThemeBridge, DropsMessagesThatFailAnyCheck) {
    p.calls.clear();
    post("light", /*mainFrame=*/false);
    post("light", true, "other.example");
    post("light", true, "sub.app.example.com");
    post("light", true, "APP.EXAMPLE.COM");
    post(std::nullopt);  // a number, object or null body
    post("light", true, "app.example.com", "somethingElse");
    EXPECT_TRUE(p.calls.empty());
    EXPECT_TRUE(p.stderrLines.empty());
    EXPECT_EQ(p.currentAppearance, platform::Appearance::Dark);
}

TEST(ThemeScript, IsTheReportingScriptForTheMainFrameAtDocumentEnd) {
    const auto& script = themeUserScript();
    EXPECT_EQ(&script, &themeUserScript()) << "one shared script";
    EXPECT_TRUE(script.injectAtDocumentEnd);
    EXPECT_TRUE(script.forMainFrameOnly);
    EXPECT_EQ(script.source.substr(0, 14), "(function () {");
    EXPECT_NE(script.source.find("window.webkit.messageHandlers.corvidaleTheme;\n  if (!handler) return;"),
              std::string::npos);
    EXPECT_NE(script.source.find("attributeFilter: ['class']"), std::string::npos);
    EXPECT_EQ(script.source.back(), ';') << "no trailing line feed";
}

}  // namespace
}  // namespace corvidale
