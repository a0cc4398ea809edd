#include <gtest/gtest.h>

#include "core/app/delegate.h"
#include "core/app/menu_model.h"
#include "fake_platform.h"

namespace corvidale {
namespace {

using testing::FakePlatform;

std::vector<std::string> describe(const platform::Menu& menu) {
    std::vector<std::string> out;
    for (const auto& item : menu.items) {
        out.push_back(item.separator ? "---" : item.title + "|" + item.action + "|" + item.keyEquivalent);
    }
    return out;
}

TEST(MainMenu, HasExactlyTheFourMenusWithTheirItems) {
    const auto bar = buildMainMenu();
    ASSERT_EQ(bar.menus.size(), 4u);
    EXPECT_EQ(bar.menus[0].title, "");
    EXPECT_EQ(describe(bar.menus[0]),
              (std::vector<std::string>{"About Corvidale|orderFrontStandardAboutPanel:|",
                                        "Check for Updates…|checkForUpdates:|", "---", "Hide Corvidale|hide:|h",
                                        "Quit Corvidale|terminate:|q"}));
    EXPECT_EQ(bar.menus[1].title, "Edit");
    EXPECT_EQ(describe(bar.menus[1]),
              (std::vector<std::string>{"Undo|undo:|z", "Redo|redo:|Z", "---", "Cut|cut:|x", "Copy|copy:|c",
                                        "Paste|paste:|v", "Select All|selectAll:|a"}));
    EXPECT_EQ(bar.menus[2].title, "View");
    EXPECT_EQ(describe(bar.menus[2]),
              (std::vector<std::string>{"Reload|reload|r", "Actual Size|zoomReset|0", "Zoom In|zoomIn|+",
                                        "Zoom Out|zoomOut|-", "---", "Enter Full Screen|toggleFullScreen:|f"}));
    EXPECT_EQ(bar.menus[3].title, "Window");
    EXPECT_EQ(describe(bar.menus[3]),
              (std::vector<std::string>{"Minimize|performMiniaturize:|m", "Close|performClose:|w"}));
    EXPECT_EQ(bar.windowsMenuIndex, 3);
}

class ViewCommands : public ::testing::Test {
protected:
    void SetUp() override { delegate.applicationDidFinishLaunching(); }
    double zoom() const { return p.lastWebView->zoom; }
    FakePlatform p;
    Delegate delegate{p};
};

TEST_F(ViewCommands, ZoomOutAccumulatesUnsnappedStepsAndStopsAtHalf) {
    std::vector<double> seen;
    for (int i = 0; i < 7; ++i) {
        delegate.zoomOut();
        seen.push_back(zoom());
    }
    EXPECT_DOUBLE_EQ(seen[0], 0.9);
    EXPECT_DOUBLE_EQ(seen[1], 0.8);
    // Not snapped: the third to fifth steps sit a hair above their tenths.
    EXPECT_GT(seen[2], 0.7);
    EXPECT_GT(seen[3], 0.6);
    EXPECT_GT(seen[4], 0.5);
    EXPECT_NEAR(seen[4], 0.5, 1e-9);
    EXPECT_EQ(seen[5], 0.5);
    EXPECT_EQ(seen[6], 0.5);
}

TEST_F(ViewCommands, TwentyZoomInStepsReachExactlyThreeAndStayThere) {
    for (int i = 0; i < 19; ++i) delegate.zoomIn();
    EXPECT_LT(zoom(), 3.0);
    delegate.zoomIn();
    EXPECT_EQ(zoom(), 3.0);
    delegate.zoomIn();
    EXPECT_EQ(zoom(), 3.0);
}

TEST_F(ViewCommands, ActualSizeIsExactlyOneAndReloadReachesTheWebView) {
    delegate.zoomIn();
    delegate.zoomIn();
    delegate.zoomOut();
    EXPECT_NE(zoom(), 1.0);
    EXPECT_TRUE(delegate.performMenuAction("zoomReset"));
    EXPECT_EQ(zoom(), 1.0);
    EXPECT_TRUE(delegate.performMenuAction("reload"));
    EXPECT_EQ(p.calls.back(), "web.reload");
    EXPECT_FALSE(delegate.performMenuAction("copy:")) << "editing actions belong to the platform";
}

}  // namespace
}  // namespace corvidale
