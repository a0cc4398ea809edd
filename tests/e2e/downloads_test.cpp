// Attachments and files the view cannot show land in the user's Downloads
// folder, under names that never overwrite anything; and the unattended
// download self-test.
#include <filesystem>

#include "e2e_test.h"

namespace corvidale::e2e {
namespace {

class DownloadsTest : public E2eTest {};

const std::string kCsv = "quarter,revenue\nQ1,100\nQ2,250\n";
const std::string kOpaque = std::string("\x01\x02\x03 binary payload \xff\xfe", 22);
const std::string kUpper = "attachment written in capitals\n";

bool holds(const std::string& path, const std::string& contents) {
    return fileExists(path) && readFile(path) == contents;
}

// Whether the Downloads folder, or a file in it, was handed to its default
// handler (which gets local files as paths, or as file: URLs).
bool revealedDownloads(const Profile& user) {
    for (const auto& opened : user.opened()) {
        if (opened.rfind("file://" + user.downloads(), 0) == 0 || opened.rfind(user.downloads(), 0) == 0) return true;
    }
    return false;
}

TEST_F(DownloadsTest, AttachmentsAndUnshowableTypesBecomeDownloadsWhileThePageStays) {
    server().handle("/export", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Disposition", "attachment; filename=\"quarterly report.csv\"");
        response.set_content(kCsv, "text/csv");
    });
    server().handle("/blob.bin", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(kOpaque, "application/x-corvidale-opaque");
    });
    server().handle("/notes", [](const httplib::Request&, httplib::Response& response) {
        // Showable text, offered as an attachment in capitals with parameters.
        response.set_header("Content-Disposition", "ATTACHMENT; filename=upper.txt");
        response.set_content(kUpper, "text/plain");
    });
    server().page("/steps", stepsPage({
                                Step::link(server().appUrl("/export")),
                                Step::link(server().appUrl("/blob.bin")),
                                Step::link(server().appUrl("/notes")),
                                Step::link(server().appUrl("/export")),
                            }));

    auto app = launchAt("/steps");
    app->window(kStartTimeout);
    const std::string downloads = profile().downloads();

    // Each step needs the page, which a file shown instead of saved would
    // replace: stop at the first miss.
    clickStep(*app, server(), 0);
    ASSERT_TRUE(waitUntil([&] { return holds(downloads + "/quarterly report.csv", kCsv); }, kEventTimeout))
        << "in Downloads:\n" << joinLines(profile().downloadedFiles()) << app->describe();
    clickStep(*app, server(), 1);
    ASSERT_TRUE(waitUntil([&] { return holds(downloads + "/blob.bin", kOpaque); }, kEventTimeout))
        << "in Downloads:\n" << joinLines(profile().downloadedFiles()) << app->describe();
    clickStep(*app, server(), 2);
    ASSERT_TRUE(waitUntil([&] { return holds(downloads + "/upper.txt", kUpper); }, kEventTimeout))
        << "in Downloads:\n" << joinLines(profile().downloadedFiles()) << app->describe();
    // The same attachment again: a new name next to the first, which stays as it was.
    clickStep(*app, server(), 3);
    ASSERT_TRUE(waitUntil([&] { return holds(downloads + "/quarterly report 2.csv", kCsv); }, kEventTimeout))
        << "in Downloads:\n" << joinLines(profile().downloadedFiles()) << app->describe();
    EXPECT_TRUE(holds(downloads + "/quarterly report.csv", kCsv));

    // Nothing else is left behind (no partial or placeholder files).
    const std::vector<std::string> expectedFiles = {"blob.bin", "quarterly report 2.csv", "quarterly report.csv",
                                                    "upper.txt"};
    EXPECT_TRUE(waitUntil([&] { return profile().downloadedFiles() == expectedFiles; }, kEventTimeout))
        << "in Downloads:\n" << joinLines(profile().downloadedFiles());
    // Downloading did not take the page away.
    EXPECT_FALSE(server().sawReport("pagehide")) << server().describeTraffic();
    // Each finished download is revealed; without a file manager on a session
    // bus that means opening the Downloads folder with its default handler.
    EXPECT_TRUE(waitUntil([&] { return revealedDownloads(profile()); }, kEventTimeout))
        << "opened:\n" << joinLines(profile().opened());
    closeWithKeyboardAndExpectCleanExit(*app);
}

TEST_F(DownloadsTest, SelfTestSavesChecksAndRemovesItsFileThenExits) {
    server().page("/start", "<!doctype html><html><body><p>self-test host page</p></body></html>");
    const std::string downloads = profile().downloads();
    const std::string marker = "saved by the Mac shell";
    LaunchOptions options = originAt(server().appUrl("/start"));
    options.arguments = {"-downloadSelfTest", "YES"};

    {
        auto app = launch(options);
        const auto status = app->waitForExit(kStartTimeout);
        ASSERT_TRUE(status) << app->describe();
        EXPECT_TRUE(status->success()) << status->describe() << "\n" << app->describe();
        EXPECT_EQ(app->outLines(), std::vector<std::string>{"DOWNLOAD SELFTEST: saved " + downloads +
                                                            "/corvidale-download-selftest.txt — \"" + marker +
                                                            "\""})
            << app->describe();
        EXPECT_TRUE(profile().downloadedFiles().empty()) << joinLines(profile().downloadedFiles());
        // In this mode a finished download is not revealed.
        EXPECT_TRUE(profile().opened().empty()) << joinLines(profile().opened());
    }

    // A leftover of the same name is kept, and the test saves next to it.
    writeFile(downloads + "/corvidale-download-selftest.txt", "left over\n");
    {
        auto app = launch(options);
        const auto status = app->waitForExit(kStartTimeout);
        ASSERT_TRUE(status) << app->describe();
        EXPECT_TRUE(status->success()) << status->describe() << "\n" << app->describe();
        EXPECT_EQ(app->outLines(), std::vector<std::string>{"DOWNLOAD SELFTEST: saved " + downloads +
                                                            "/corvidale-download-selftest 2.txt — \"" + marker +
                                                            "\""})
            << app->describe();
        EXPECT_EQ(readFile(downloads + "/corvidale-download-selftest.txt"), "left over\n");
        EXPECT_EQ(profile().downloadedFiles(), std::vector<std::string>{"corvidale-download-selftest.txt"});
    }

    // The switch is for that run only. Were it remembered, the next ordinary
    // download would end the run with a self-test line.
    server().handle("/export", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Disposition", "attachment; filename=\"after.csv\"");
        response.set_content(kCsv, "text/csv");
    });
    server().page("/steps", stepsPage({Step::link(server().appUrl("/export"))}));
    {
        auto app = launch(originAt(server().appUrl("/steps")));
        app->window(kStartTimeout);
        clickStep(*app, server(), 0);
        EXPECT_TRUE(waitUntil([&] { return holds(downloads + "/after.csv", kCsv); }, kEventTimeout))
            << "in Downloads:\n" << joinLines(profile().downloadedFiles()) << app->describe();
        // The reveal comes after the finished download was handled.
        EXPECT_TRUE(waitUntil([&] { return revealedDownloads(profile()); }, kEventTimeout))
            << "opened:\n" << joinLines(profile().opened());
        EXPECT_TRUE(app->running()) << app->describe();
        EXPECT_TRUE(app->outLines().empty()) << app->describe();
        closeWithKeyboardAndExpectCleanExit(*app);
    }
}

}  // namespace
}  // namespace corvidale::e2e
