#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>

#include <filesystem>

#include "app.h"
#include "world.h"
#include "x11.h"

namespace {

// Keeps a picture of the screen at each failure, as it was at that moment.
class ScreenshotOnFailure : public ::testing::EmptyTestEventListener {
    // The folder is worked out here: while a failure is being reported, gtest
    // holds the lock that asking it for the current test would take again.
    void OnTestStart(const ::testing::TestInfo&) override {
        failures_ = 0;
        folder_ = corvidale::e2e::currentTestArtifactFolder();
    }
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (!result.failed()) return;
        const std::string display = corvidale::e2e::World::get().displayIfStarted();
        if (display.empty() || folder_.empty() || failures_ >= 5) return;
        std::error_code ignored;
        std::filesystem::create_directories(folder_, ignored);
        corvidale::e2e::x11::screenshot(display, folder_ + "/failure-" + std::to_string(++failures_) + ".png");
    }
    int failures_ = 0;
    std::string folder_;
};

}  // namespace

int main(int argc, char** argv) {
    // A page that drops its connection must not take the test process down.
    ::signal(SIGPIPE, SIG_IGN);
    // Helpers that the app's processes leave behind become our children, so
    // that a run's teardown can reap every one of them.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    // The window watcher reads the display on a thread of its own.
    corvidale::e2e::x11::initThreads();
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new ScreenshotOnFailure);
    const int result = RUN_ALL_TESTS();
    corvidale::e2e::World::shutdown();
    return result;
}
