#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/app/delegate.h"
#include "core/downloads/destination.h"
#include "fake_platform.h"

namespace corvidale {
namespace {

namespace fs = std::filesystem;
using testing::FakePlatform;
using testing::ProcessExited;

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "corvidale-test-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(path); }
    void touch(const std::string& name, const std::string& content = "") const {
        std::ofstream(fs::path(path) / name) << content;
    }
    std::string at(const std::string& name) const { return (fs::path(path) / name).string(); }
    std::string path;
};

std::string nameOf(const std::string& path) { return fs::path(path).filename().string(); }

TEST(DownloadNames, NumberTheNameUntilItIsFree) {
    TempFolder folder;
    folder.touch("report.pdf");
    folder.touch("report 2.pdf");
    EXPECT_EQ(nameOf(uniqueDestination(folder.path, "report.pdf", {}).path), "report 3.pdf");

    fs::create_directory(folder.at("notes"));  // a folder counts as taken
    EXPECT_EQ(nameOf(uniqueDestination(folder.path, "notes", {}).path), "notes 2");

    folder.touch("archive.tar.gz");
    EXPECT_EQ(nameOf(uniqueDestination(folder.path, "archive.tar.gz", {}).path), "archive.tar 2.gz");

    EXPECT_EQ(nameOf(uniqueDestination(folder.path, "", {}).path), "download");
    EXPECT_EQ(nameOf(uniqueDestination(folder.path, "", {}).path), "download 2");

    ASSERT_EQ(symlink("/nonexistent/target", folder.at("dangling.txt").c_str()), 0);
    EXPECT_EQ(nameOf(uniqueDestination(folder.path, "dangling.txt", {}).path), "dangling 2.txt");
}

TEST(DownloadNames, ClaimTheNameSoNothingCanBeOverwritten) {
    TempFolder folder;
    const auto first = uniqueDestination(folder.path, "same.txt", {});
    const auto second = uniqueDestination(folder.path, "same.txt", {});
    EXPECT_TRUE(first.claimed);
    EXPECT_TRUE(fs::exists(first.path));
    EXPECT_EQ(fs::file_size(first.path), 0u);
    EXPECT_EQ(nameOf(second.path), "same 2.txt");

    // Names given to downloads still running count as taken even without a file.
    fs::remove(first.path);
    const auto third = uniqueDestination(folder.path, "same.txt",
                                         [&](const std::string& path) { return path == first.path; });
    EXPECT_EQ(nameOf(third.path), "same 3.txt");
}

TEST(DownloadNames, HostileNamesStayInsideTheFolder) {
    EXPECT_EQ(sanitizeFilename("../../.bashrc"), ".bashrc");
    EXPECT_EQ(sanitizeFilename("a/b"), "b");
    EXPECT_EQ(sanitizeFilename("..\\..\\evil.exe"), "evil.exe");
    EXPECT_EQ(sanitizeFilename(".."), "download");
    EXPECT_EQ(sanitizeFilename("."), "download");
    EXPECT_EQ(sanitizeFilename("dir/"), "download");
    EXPECT_EQ(sanitizeFilename(std::string("in\0side.txt", 11)), "inside.txt");
    EXPECT_EQ(sanitizeFilename("tab\tand\nnewline\x7f.txt"), "tabandnewline.txt");
    EXPECT_EQ(sanitizeFilename("отчёт.pdf"), "отчёт.pdf");
    EXPECT_EQ(sanitizeFilename("報告書.pdf"), "報告書.pdf");

    TempFolder folder;
    const auto escaped = uniqueDestination(folder.path, "../../escape.txt", {});
    EXPECT_EQ(fs::path(escaped.path).parent_path(), fs::path(folder.path));
}

TEST(DownloadNames, OverlongNamesAreShortenedOnCharacterBoundariesKeepingTheExtension) {
    const std::string ascii = std::string(300, 'a') + ".pdf";
    const auto shortAscii = sanitizeFilename(ascii);
    EXPECT_EQ(shortAscii.size(), kMaxFilenameBytes);
    EXPECT_EQ(shortAscii.substr(shortAscii.size() - 4), ".pdf");

    std::string wide;
    for (int i = 0; i < 120; ++i) wide += "ж";  // two bytes each
    for (int i = 0; i < 30; ++i) wide += "語";   // three bytes each
    wide += ".txt";
    const auto shortWide = sanitizeFilename(wide);
    EXPECT_LE(shortWide.size(), kMaxFilenameBytes);
    EXPECT_TRUE(isValidUtf8(shortWide)) << "no character cut in two";
    EXPECT_EQ(shortWide.substr(shortWide.size() - 4), ".txt");

    // The numbered variants must fit too.
    TempFolder folder;
    const auto first = uniqueDestination(folder.path, ascii, {});
    const auto second = uniqueDestination(folder.path, ascii, {});
    EXPECT_TRUE(first.claimed);
    EXPECT_TRUE(second.claimed);
    EXPECT_LE(nameOf(second.path).size(), kMaxFilenameBytes);
    EXPECT_EQ(nameOf(second.path).substr(nameOf(second.path).size() - 6), " 2.pdf");
}

TEST(Utf8, TellsWellFormedTextFromTheRest) {
    EXPECT_TRUE(isValidUtf8("plain, ünïcödé, 語, 😀"));
    EXPECT_FALSE(isValidUtf8("\xff"));
    EXPECT_FALSE(isValidUtf8("\xc3"));          // truncated
    EXPECT_FALSE(isValidUtf8("\xc0\xaf"));      // overlong
    EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));  // surrogate
}

class FakeDownload : public platform::Download {
public:
    explicit FakeDownload(platform::DownloadId downloadId) : id_(downloadId) {}
    platform::DownloadId id() const override { return id_; }
    void setDelegate(platform::DownloadDelegate*) override {}

private:
    platform::DownloadId id_;
};

class DownloadDelegate : public ::testing::Test {
protected:
    void SetUp() override {
        p.downloadsFolder = folder.path;
        delegate.applicationDidFinishLaunching();
        p.calls.clear();
    }
    std::optional<std::string> destinationFor(FakeDownload& download, const std::string& name) {
        std::optional<std::string> answer;
        int answers = 0;
        delegate.decideDestination(download, name,
                                   platform::Completion<std::optional<std::string>>(
                                       [&](std::optional<std::string> path) {
                                           answer = std::move(path);
                                           ++answers;
                                       },
                                       std::nullopt));
        EXPECT_EQ(answers, 1);
        return answer;
    }
    TempFolder folder;
    FakePlatform p;
    Delegate delegate{p};
};

TEST_F(DownloadDelegate, TwoRunningDownloadsOfOneNameGetTwoFiles) {
    FakeDownload a(1), b(2);
    const auto first = destinationFor(a, "photo.jpg");
    fs::remove(*first);  // even if the engine has not created the file yet
    const auto second = destinationFor(b, "photo.jpg");
    EXPECT_EQ(nameOf(*first), "photo.jpg");
    EXPECT_EQ(nameOf(*second), "photo 2.jpg");
    EXPECT_EQ(delegate.downloads.size(), 2u);
}

TEST_F(DownloadDelegate, FinishRevealsTheFileAndClearsTheEntry) {
    FakeDownload download(7);
    const auto path = destinationFor(download, "report.pdf");
    EXPECT_EQ(delegate.downloads.at(7), *path);
    delegate.downloadDidFinish(download);
    EXPECT_TRUE(delegate.downloads.empty());
    EXPECT_EQ(p.calls.back(), "workspace.revealFiles " + *path);

    p.calls.clear();
    delegate.downloadDidFinish(download);  // no entry: nothing happens
    EXPECT_TRUE(p.calls.empty());
}

TEST_F(DownloadDelegate, FailureShowsTheSheetWithTheFileName) {
    FakeDownload download(3), early(4), partial(5);
    const auto unused = destinationFor(download, "big.iso");
    const auto written = destinationFor(partial, "half.bin");
    std::ofstream(*written) << "half of it";
    delegate.downloadDidFail(partial, {"Lost.", "Error Domain=… Code=-1005"});
    EXPECT_TRUE(fs::exists(*written)) << "a partial file is not ours to remove";
    p.alerts.clear();
    delegate.downloadDidFail(download, {"The network connection was lost.", "Error Domain=… Code=-1005"});
    delegate.downloadDidFail(early, {"Cancelled.", "Error Domain=… Code=-999"});
    EXPECT_TRUE(delegate.downloads.empty());
    EXPECT_FALSE(fs::exists(*unused)) << "the empty placeholder is gone";
    ASSERT_EQ(p.alerts.size(), 2u);
    EXPECT_EQ(p.alerts[0].content.messageText, "The download didn't finish");
    EXPECT_EQ(p.alerts[0].content.informativeText, "big.iso could not be saved: The network connection was lost.");
    EXPECT_EQ(p.alerts[0].content.buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(p.alerts[0].presentation, platform::Presentation::SheetOnWindow);
    EXPECT_EQ(p.alerts[1].content.informativeText, "The file could not be saved: Cancelled.");
}

TEST_F(DownloadDelegate, WithNoDownloadsFolderTheDownloadIsDeclined) {
    p.downloadsFolder.reset();
    FakeDownload download(9);
    EXPECT_EQ(destinationFor(download, "x.txt"), std::nullopt);
    EXPECT_TRUE(delegate.downloads.empty());
}

TEST_F(DownloadDelegate, SelfTestModeTakesOverFinishAndFailureButStillClearsTheTable) {
    p.stored["downloadSelfTest"] = "YES";
    FakeDownload finished(1), failed(2);
    const auto path = destinationFor(finished, "corvidale-download-selftest.txt");
    std::ofstream(*path) << "saved by the Mac shell";
    destinationFor(failed, "other.txt");

    EXPECT_THROW(delegate.downloadDidFinish(finished), ProcessExited);
    EXPECT_EQ(delegate.downloads.count(1), 0u);
    EXPECT_THROW(delegate.downloadDidFail(failed, {"lost", "Error Domain=X Code=1 \"lost\""}), ProcessExited);
    EXPECT_TRUE(delegate.downloads.empty());
    EXPECT_TRUE(p.alerts.empty());
    EXPECT_EQ(std::count_if(p.calls.begin(), p.calls.end(),
                            [](const std::string& c) { return c.rfind("workspace.revealFiles", 0) == 0; }),
              0);
}

}  // namespace
}  // namespace corvidale
