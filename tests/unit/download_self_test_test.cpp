#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/app/delegate.h"
#include "fake_platform.h"

namespace corvidale {
namespace {

namespace fs = std::filesystem;
using testing::FakePlatform;
using testing::ProcessExited;

class DownloadSelfTest : public ::testing::Test {
protected:
    void SetUp() override {
        delegate.applicationDidFinishLaunching();
        p.stored["downloadSelfTest"] = "YES";
        delegate.didFinishNavigation();
        ASSERT_EQ(p.lastWebView->evaluations.size(), 1u);
        file = (fs::temp_directory_path() / ("corvidale-selftest-" + std::to_string(::getpid()) + ".txt")).string();
    }
    void TearDown() override { fs::remove(file); }

    int exitStatusOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const ProcessExited& exited) {
            return exited.status;
        }
        ADD_FAILURE() << "the process did not end";
        return -1;
    }

    FakePlatform p;
    Delegate delegate{p};
    std::string file;
};

TEST_F(DownloadSelfTest, InjectsTheDownloadScriptAndArmsTheDeadlineAtOnce) {
    EXPECT_EQ(p.lastWebView->evaluations[0].script,
              "const a=document.createElement('a');a.href=URL.createObjectURL(new Blob(['saved by the Mac "
              "shell'],{type:'text/plain'}));a.download='corvidale-download-selftest.txt';document.body."
              "appendChild(a);a.click();");
    EXPECT_EQ(p.calls.back(), "queue.after 15");
    p.advance(14.9);
    EXPECT_TRUE(p.stdoutLines.empty());
    EXPECT_EQ(exitStatusOf([&] { p.advance(0.2); }), 1);
    EXPECT_EQ(p.stdoutLines, std::vector<std::string>{"DOWNLOAD SELFTEST: nothing arrived in 15 s"});
}

TEST_F(DownloadSelfTest, AScriptErrorFailsTheTest) {
    auto completion = p.lastWebView->evaluations[0].completion;
    EXPECT_EQ(exitStatusOf([&] { completion({std::nullopt, std::string("TypeError: null is not an object")}); }), 1);
    EXPECT_EQ(p.stdoutLines,
              std::vector<std::string>{"DOWNLOAD SELFTEST: failed — TypeError: null is not an object"});
}

TEST_F(DownloadSelfTest, AScriptResultThatIsNoErrorChangesNothing) {
    p.lastWebView->evaluations[0].completion({std::nullopt, std::nullopt});
    EXPECT_TRUE(p.stdoutLines.empty());
}

TEST_F(DownloadSelfTest, SavedFileIsReportedCheckedAndDeleted) {
    struct Case {
        std::string content;
        std::string shown;
        int status;
    };
    for (const auto& c : {Case{"saved by the Mac shell", "saved by the Mac shell", 0},
                          Case{"something else", "something else", 1},
                          Case{"saved by the Mac shell\n", "saved by the Mac shell\n", 1},
                          Case{"\xff\xfe broken", "<unreadable>", 1}}) {
        std::ofstream(file, std::ios::binary) << c.content;
        p.stdoutLines.clear();
        EXPECT_EQ(exitStatusOf([&] { delegate.completeDownloadSelfTest(file); }), c.status);
        EXPECT_EQ(p.stdoutLines, std::vector<std::string>{"DOWNLOAD SELFTEST: saved " + file + " — \"" + c.shown + "\""});
        EXPECT_FALSE(fs::exists(file));
    }
    p.stdoutLines.clear();
    EXPECT_EQ(exitStatusOf([&] { delegate.completeDownloadSelfTest(file); }), 1) << "missing file";
    EXPECT_EQ(p.stdoutLines, std::vector<std::string>{"DOWNLOAD SELFTEST: saved " + file + " — \"<unreadable>\""});
}

}  // namespace
}  // namespace corvidale
