// Download names, the download controller and both ways of reporting its ends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/downloads/destination.h"
#include "core/util/text.h"
#include "core/downloads/download_controller.h"
#include "core/downloads/interactive_download_reporter.h"
#include "core/downloads/self_test.h"
#include "fake.h"

namespace corvidale {
namespace {

namespace fs = std::filesystem;
using namespace platform;
using testing::Fake;
using testing::FakeDownload;
using testing::FakeWindow;
using Strings = std::vector<std::string>;

struct Folder {
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "corvidale-test-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~Folder() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

TEST(DownloadNames, FirstFreeNameInsideTheFolder) {
    const std::string longName = std::string(300, 'a') + ".pdf";
    struct Case {
        std::string suggested;
        Strings existing;
        std::string expected;
        std::string suffix = "";  // the engine's while it writes
    };
    for (const auto& c : {Case{"report.pdf", {}, "report.pdf"}, Case{"report.pdf", {"report.pdf", "report 2.pdf"}, "report 3.pdf"},
                          Case{"notes", {"notes/"}, "notes 2"}, Case{"archive.tar.gz", {"archive.tar.gz"}, "archive.tar 2.gz"},
                          Case{"", {}, "download"}, Case{"", {"download"}, "download 2"}, Case{".bashrc", {".bashrc"}, ".bashrc 2"},
                          Case{"dangling.txt", {"dangling.txt@"}, "dangling 2.txt"},
                          Case{"../../.bashrc", {}, ".bashrc"}, Case{"..\\..\\evil.exe", {}, "evil.exe"},
                          Case{"..", {}, "download"}, Case{"dir/", {}, "download"},
                          Case{std::string(300, '\x80'), {}, "download"}, Case{".." + std::string(300, '\x80'), {}, "download"},
                          Case{std::string("in\0side\t\n\x7f.txt", 14), {}, "inside.txt"},
                          Case{"отчёт.pdf", {"отчёт.pdf"}, "отчёт 2.pdf"},
                          Case{longName, {}, std::string(251, 'a') + ".pdf"},
                          Case{longName, {std::string(251, 'a') + ".pdf"}, std::string(249, 'a') + " 2.pdf"},
                          Case{"wk.txt", {"wk.txt.part@"}, "wk 2.txt", ".part"},
                          Case{longName, {}, std::string(240, 'a') + ".pdf", ".wkdownload"}}) {
        Folder folder;
        for (auto name : c.existing) {
            if (name.back() == '/') fs::create_directory(folder / name);
            else if (name.back() == '@') fs::create_symlink("/nonexistent", folder / name.substr(0, name.size() - 1));
            else std::ofstream(folder / name) << "taken";
        }
        const auto destination = uniqueDestination(folder.path, c.suggested, {}, c.suffix);
        EXPECT_EQ(destination.path, folder / c.expected) << c.suggested;
        EXPECT_TRUE(destination.claimed && fs::file_size(destination.path) == 0) << "claimed with an empty file";
    }
    // A folder that can't be examined ends the search with the reason.
    const auto unusable = uniqueDestination("/tmp/" + std::string(5000, 'x'), "a.txt", {});
    EXPECT_TRUE(unusable.path.empty() && unusable.problem && unusable.problem->find("File name too long") != std::string::npos);
    std::string wide;
    for (int i = 0; i < 90; ++i) wide += "語";
    const auto cut = sanitizeFilename(wide + ".txt");
    EXPECT_TRUE(cut.size() <= kMaxFilenameBytes && isValidUtf8(cut) && cut.ends_with(".txt")) << cut;
    for (auto bad : {"\xff", "\xc3", "\xc0\xaf", "\xed\xa0\x80"}) EXPECT_FALSE(isValidUtf8(bad));
    EXPECT_TRUE(isValidUtf8("plain, ünïcödé, 語, 😀"));
    EXPECT_EQ(utf8PrefixLength(std::string_view("ab語").substr(0, 4), 4), 4u) << "what fits stays whole";
    for (auto bad : {"a\x1f", "a\x7f", "a\xc2\x80", "a\xc2\x9f"}) EXPECT_TRUE(hasControlCharacter(bad)) << bad;
    EXPECT_FALSE(hasControlCharacter("a\xc2\xa0 ü"));
}

// Downloads into a folder of their own, reported to the user.
struct Downloads : ::testing::Test {
    Downloads() {
        p.downloadsFolder = folder.path;
        board.setWindow(&window);
    }
    std::string destination(FakeDownload& download, const std::string& name) {
        std::optional<std::string> answer;
        to->decideDestination(download, name, Completion<std::optional<std::string>>([&](auto path) {
            answer = path;
        }, std::nullopt));
        return answer.value_or("declined");
    }
    Fake p;
    Folder folder;
    FakeWindow window{p.calls};
    ActivityBoard board{p, p};
    InteractiveDownloadReporter interactive{p, p, p, board};
    DownloadSelfTest selfTest{p, p};
    DownloadController downloads{p, ".part", interactive};
    DownloadController* to = &downloads;  // where destination() asks
};

TEST_F(Downloads, EachGetsAFreeNameAndOnlyWholeFilesCount) {
    FakeDownload a(1), b(2), c(3), never(4), cut(5), nowhere(6), unannounced(7);
    downloads.adopt(a);
    EXPECT_EQ(a.delegate, &downloads);
    EXPECT_EQ(destination(a, "photo.jpg"), folder / "photo.jpg");
    fs::remove(folder / "photo.jpg");  // not yet created by the engine: still taken
    EXPECT_EQ(destination(b, "photo.jpg"), folder / "photo 2.jpg");
    EXPECT_EQ(destination(c, "half.bin"), folder / "half.bin");
    std::ofstream(folder / "half.bin") << "half";
    EXPECT_EQ(destination(cut, "cut.bin"), folder / "cut.bin");
    std::ofstream(folder / "cut.bin") << "cut";
    cut.expected = 400000, cut.received = 200000;
    EXPECT_EQ(destination(unannounced, "stream.bin"), folder / "stream.bin");
    std::ofstream(folder / "stream.bin") << "stream";
    unannounced.expected = 0, unannounced.received = 6;  // an expected count still at its start

    a.expected = a.received = 0;  // declared and written alike
    downloads.downloadDidFinish(a);
    downloads.downloadDidFinish(a);  // no entry any more: nothing
    downloads.downloadDidFinish(cut);  // the engine calls a cut-off transfer finished
    downloads.downloadDidFinish(unannounced);
    EXPECT_TRUE(fs::exists(folder / "stream.bin")) << "no length was announced, none is missing";
    EXPECT_EQ(p.revealed, Strings{folder / "photo.jpg"});
    EXPECT_FALSE(fs::exists(folder / "cut.bin")) << "a cut-off file must not pass for a download";
    downloads.downloadDidFail(b, {"The network connection was lost.", "Error Domain=X Code=-1005"});
    downloads.downloadDidFail(c, {"Lost.", ""});
    downloads.downloadDidFail(never, {"Cancelled.", ""});
    EXPECT_FALSE(fs::exists(folder / "photo 2.jpg")) << "the empty placeholder goes";
    EXPECT_TRUE(fs::exists(folder / "half.bin")) << "a partial file is not ours to remove";
    p.downloadsFolder.reset();
    EXPECT_EQ(destination(nowhere, "x.txt"), "declined");
    downloads.downloadDidFail(nowhere, {"User cancelled the download", ""});  // what the engine says next
    Strings texts;
    for (const auto& alert : p.alerts) {
        EXPECT_EQ(alert.content.messageText, "The download didn't finish");
        EXPECT_EQ(alert.presentation, Presentation::SheetOnWindow);
        texts.push_back(*alert.content.informativeText);
    }
    EXPECT_EQ(texts, (Strings{"cut.bin could not be saved: The connection closed after 200000 of 400000 bytes.",
                              "photo 2.jpg could not be saved: The network connection was lost.",
                              "half.bin could not be saved: Lost.", "The file could not be saved: Cancelled.",
                              "x.txt could not be saved: The Downloads folder is unavailable."}));
    // Names are free again once their downloads have ended.
    p.downloadsFolder = folder.path;
    EXPECT_EQ(destination(a, "photo.jpg"), folder / "photo.jpg");
}

TEST_F(Downloads, TheFolderShowsWithTheFirstFileAndAtMostOnceAMinute) {
    // A file every 3.5 s, as a frame would pace them to outlast a pause.
    for (DownloadId id = 20; id < 58; ++id) {
        FakeDownload each(id);
        destination(each, "paced.txt");
        downloads.downloadDidFinish(each);
        p.advance(3.5);
    }
    EXPECT_EQ(p.revealed, (Strings{folder / "paced.txt", folder / "paced 19.txt", folder / "paced 37.txt"}));
}

TEST_F(Downloads, RunningOnesShowInOneStripAndTheUsersCancelTakesTheirFileAway) {
    FakeDownload big(60), stream(61), kept(62);
    for (auto* each : {&big, &stream, &kept}) destination(*each, "f" + std::to_string(each->number) + ".bin");
    big.expected = 300000000, big.received = 120000000;
    stream.received = 999;
    p.advance(0.6);
    ASSERT_EQ(window.rows.size(), 3u);
    EXPECT_EQ(window.rows[0].text, "f60.bin \u2014 120 MB of 300 MB");
    EXPECT_EQ(window.rows[0].fraction, 0.4);
    EXPECT_EQ(window.rows[1].text, "f61.bin \u2014 999 bytes");
    EXPECT_EQ(window.rows[1].fraction, std::nullopt);
    EXPECT_EQ(window.rows[1].cancelName, "Cancel the download of f61.bin");
    EXPECT_EQ(p.launcher.back(), 0.4) << "the launcher counts what has a length";
    big.received = 180000000;
    p.advance(0.6);
    EXPECT_EQ(window.rows[0].fraction, 0.6);
    // The engine has started writing beside the name it was given.
    std::ofstream(folder / "f61.bin.part") << "partial";
    downloads.cancel(0);  // no such download: nothing
    window.cancel(window.rows[1].id);
    window.cancel(window.rows[1].id);  // pressed twice, cancelled once
    EXPECT_TRUE(stream.cancelled);
    p.advance(0.3);
    EXPECT_EQ(window.rows[1].cancelName, "") << "a cancelled row offers no second Cancel";
    downloads.downloadDidFail(stream, {"Cancelled.", ""});
    big.received = 300000000;
    downloads.downloadDidFinish(big);
    EXPECT_EQ(window.rows.size(), 1u) << "ended downloads leave the strip at once";
    EXPECT_FALSE(fs::exists(folder / "f61.bin.part"));
    EXPECT_FALSE(fs::exists(folder / "f61.bin"));
    EXPECT_TRUE(p.alerts.empty()) << "the user's own cancel is no failure";
    downloads.downloadDidFail(kept, {"Lost.", ""});
    EXPECT_TRUE(window.rows.empty());
    EXPECT_EQ(p.launcher.back(), std::nullopt);
    EXPECT_EQ(p.alerts.size(), 1u);
}

TEST_F(Downloads, TheSelfTestStartsOnceAndEndsWithTheFirstOutcome) {
    DownloadController run{p, "", selfTest};
    to = &run;
    auto exitOf = [&](auto action) {
        p.out.clear();
        return testing::exitStatus(action);
    };
    testing::FakeWebView web{p, {}};
    run.pageDidFinishLoading(web);
    run.pageDidFinishLoading(web);
    ASSERT_EQ(web.scripts.size(), 1u) << "a reload starts no second download";
    web.completions[0]({{}, {}});
    EXPECT_TRUE(p.out.empty()) << "a result that is no error changes nothing";
    EXPECT_EQ(exitOf([&] { web.completions[0]({{}, "TypeError: null"}); }), 1);
    EXPECT_EQ(p.out, Strings{"DOWNLOAD SELFTEST: failed — TypeError: null"});
    for (auto [content, shown, status] : {std::tuple{"saved by the Mac shell", "saved by the Mac shell", 0},
                                          std::tuple{"saved by the Mac shell\n", "saved by the Mac shell\n", 1},
                                          std::tuple{"\xff\xfe broken", "<unreadable>", 1}}) {
        FakeDownload download(9);
        const auto path = destination(download, "corvidale-download-selftest.txt");
        std::ofstream(path) << content;
        EXPECT_EQ(exitOf([&] { run.downloadDidFinish(download); }), status);
        EXPECT_EQ(p.out, Strings{"DOWNLOAD SELFTEST: saved " + path + " — \"" + shown + "\""});
        EXPECT_FALSE(fs::exists(path));
    }
    FakeDownload failed(10);
    destination(failed, "x.txt");
    EXPECT_EQ(exitOf([&] { run.downloadDidFail(failed, {"lost", "Error Domain=X Code=1 \"lost\""}); }), 1);
    EXPECT_EQ(p.out, Strings{"DOWNLOAD SELFTEST: failed — Error Domain=X Code=1 \"lost\""});
    EXPECT_TRUE(p.alerts.empty() && p.revealed.empty());
    p.advance(14.9);
    EXPECT_EQ(exitOf([&] { p.advance(0.2); }), 1);
    EXPECT_EQ(p.out, Strings{"DOWNLOAD SELFTEST: nothing arrived in 15 s"});
}

}  // namespace
}  // namespace corvidale
