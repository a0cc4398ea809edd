// The GTK backend's pieces that need no display: defaults, Info.plist,
// accelerators, the command line, saved frames, errors, the main queue and
// the replacement of a bundle.
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "accelerators.h"
#include "bundle.h"
#include "command_line.h"
#include "defaults.h"
#include "file_manager.h"
#include "main_queue.h"
#include "web_view.h"
#include "website_data.h"
#include "window.h"

namespace corvidale::gtk {
namespace {

namespace fs = std::filesystem;
using Kind = platform::PlistValue::Kind;
using Strings = std::vector<std::string>;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A dictionary whose CFBundleIdentifier is "x" beside `levels` arrays, each
// holding the next `width` times: XML, or binary where the next is one shared
// object.
std::string nestedXml(std::size_t levels) {
    std::string text = "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>x</string><key>a</key>";
    for (std::size_t i = 0; i < levels; ++i) text += "<array>";
    for (std::size_t i = 0; i < levels; ++i) text += "</array>";
    return text + "</dict></plist>";
}
std::string bigEndian(std::uint64_t value, int width) {
    std::string bytes;
    for (int i = width - 1; i >= 0; --i) bytes += static_cast<char>(value >> (8 * i));
    return bytes;
}
std::string nestedBinary(std::size_t levels, int width) {
    const auto ref = [](std::uint64_t object) { return bigEndian(object, 4); };
    Strings objects = {"\xD2" + ref(1) + ref(3) + ref(2) + ref(4), "\x5F\x10\x12" "CFBundleIdentifier", "\x51x",
                       "\x51" "a"};
    for (std::size_t i = 0; i < levels; ++i) {
        std::string array(1, static_cast<char>(0xA0 | width));
        for (int r = 0; r < width; ++r) array += ref(objects.size() + 1);
        objects.push_back(array);
    }
    objects.push_back("\xA0");
    std::string data = "bplist00", table;
    for (const auto& object : objects) table += bigEndian(data.size(), 4), data += object;
    return data + table + std::string(6, '\0') + "\x04\x04" + bigEndian(objects.size(), 8) + bigEndian(0, 8) +
           bigEndian(data.size(), 8);
}

struct Scratch : ::testing::Test {
    Scratch() : root(fs::temp_directory_path() / ("corvidale-gtk-" + std::to_string(::getpid()))) {
        fs::create_directories(root);
    }
    ~Scratch() override { fs::remove_all(root); }
    fs::path root;
};

TEST(DefaultsBoolean, ReadsLikeTheDesktopPlatform) {
    for (auto yes : {"YES", "yes", "Yes", "true", "TRUE", "1", "2", "-1", "0.5", " YES "}) {
        EXPECT_TRUE(defaultsBooleanValue(yes)) << yes;
    }
    for (auto no : {"NO", "no", "false", "0", "0.0", "", "y", "t", "on", "abc", "1abc", "nan"}) {
        EXPECT_FALSE(defaultsBooleanValue(no)) << no;
    }
}

using Defaults = Scratch;

TEST_F(Defaults, PersistOverlayTheCommandLineAndKeepAnUnreadableFile) {
    const std::string path = root / "com.example.shell/defaults.ini";
    Strings reports;
    auto open = [&](std::map<std::string, std::string> arguments = {}) {
        return std::make_unique<KeyFileDefaults>(path, arguments, [&](const std::string& line) { reports.push_back(line); });
    };
    {
        auto defaults = open();
        EXPECT_FALSE(defaults->string("lastAppTheme") || defaults->boolean("autoUpdate"));
        defaults->setString("lastAppTheme", "light");
        defaults->setBoolean("autoUpdate", true);
        defaults->setString("multiline", "one\ntwo = three");
        open()->setString("NSWindow Frame CorvidaleMain", "900 650");  // another instance meanwhile
        defaults->setString("updateFeed", "https://feed.example/");
    }
    auto run = open({{"updateFeed", "file:///tmp/feed.json"}, {"downloadSelfTest", "YES"}});
    EXPECT_EQ(run->string("lastAppTheme"), "light");
    EXPECT_TRUE(run->boolean("autoUpdate") && run->boolean("downloadSelfTest"));
    EXPECT_EQ(run->string("multiline"), "one\ntwo = three");
    EXPECT_EQ(run->string("NSWindow Frame CorvidaleMain"), "900 650");
    EXPECT_EQ(run->string("updateFeed"), "file:///tmp/feed.json") << "the command line wins for this run";
    run->setBoolean("autoUpdate", false);
    EXPECT_EQ(slurp(path).find("downloadSelfTest"), std::string::npos) << "arguments are never saved";
    EXPECT_FALSE(open()->boolean("autoUpdate"));
    for (auto key : {"a=b", "[group]", ""}) run->setString(key, "x");
    run->setString("bytes", std::string("\xff\xfe", 2));
    EXPECT_EQ(reports.size(), 4u);
    EXPECT_FALSE(open()->string("bytes"));

    const std::string garbage = "not a key file \x1b]0;owned\x07\x1b[2J\xff\n\x01\x02[[[\n";
    for (auto name : {".corrupt", ".corrupt.2"}) {
        std::ofstream(path, std::ios::binary) << garbage << name;
        reports.clear();
        auto broken = open();
        EXPECT_FALSE(broken->string("lastAppTheme"));
        EXPECT_EQ(slurp(path), garbage + name) << "reading leaves it alone";
        broken->setString("lastAppTheme", "dark");
        EXPECT_EQ(slurp(path + name), garbage + name) << "moved aside, an older copy kept";
        EXPECT_EQ(open()->string("lastAppTheme"), "dark");
        EXPECT_EQ(reports.size(), 1u);
        // The file's bytes are quoted in the warning, escaped: none may drive the terminal.
        EXPECT_NE(reports[0].find("\\x1b]0;owned\\x07\\x1b[2J"), std::string::npos) << reports[0];
        EXPECT_EQ(reports[0].find_first_of(std::string("\x1b\x07\xff", 3)), std::string::npos);
    }
    const std::string config = g_get_user_config_dir();
    EXPECT_EQ(defaultsPathFor("com.example.shell"), config + "/com.example.shell/defaults.ini");
    EXPECT_EQ(defaultsPathFor("../escape"), config + "/com.corvidale.desktop/defaults.ini");
}

using WebsiteData = Scratch;

TEST_F(WebsiteData, ACookieStoreTheEngineCannotOpenIsSetAsideAndOnlyThat) {
    auto write = [](std::string bytes) {
        return [bytes](const std::string& path) { std::ofstream(path, std::ios::binary) << bytes; };
    };
    const std::string header("SQLite format 3\0", 16);
    const std::vector<std::tuple<std::string, std::function<void(const std::string&)>, bool>> cases = {
        {"missing", [](const std::string&) {}, false},
        {"empty", write(""), false},
        {"database", write(header + std::string(4080, '\0')), false},
        {"random", write("\x8f\x13 random bytes, no database \x02\xff"), true},
        {"short", write("SQLite"), true},
        {"pipe", [](const std::string& path) { ::mkfifo(path.c_str(), 0600); }, true},
        {"dangling", [](const std::string& path) { fs::create_symlink("/nonexistent/cookies", path); }, true},
        {"folder", [](const std::string& path) { fs::create_directory(path); }, true},
    };
    for (const auto& [name, make, setAside] : cases) {
        fs::create_directory(root / name);
        const std::string path = root / name / "cookies.sqlite";
        make(path);
        EXPECT_EQ(setAsideUnusableCookieStore(path), setAside) << name;
        EXPECT_EQ(fs::exists(fs::symlink_status(path + ".corrupt")), setAside) << name;
        EXPECT_EQ(fs::exists(fs::symlink_status(path)), !setAside && name != "missing") << name;
    }
}

TEST(InfoPlist, KeepsTheTypeOfEachValueInXmlAndBinary) {
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "Name", plist_new_string("Zoë & co"));
    plist_dict_set_item(dict, "Empty", plist_new_string(""));
    plist_dict_set_item(dict, "Integer", plist_new_uint(42));
    plist_dict_set_item(dict, "Negative", plist_new_uint(static_cast<uint64_t>(-7)));
    plist_dict_set_item(dict, "Real", plist_new_real(1.5));
    plist_dict_set_item(dict, "Flag", plist_new_bool(1));
    plist_dict_set_item(dict, "Date", plist_new_date(0, 0));
    plist_dict_set_item(dict, "Data", plist_new_data("ab", 2));
    plist_dict_set_item(dict, "List", plist_new_array());
    plist_dict_set_item(dict, "Dict", plist_new_dict());
    char* xml = nullptr;
    char* binary = nullptr;
    uint32_t xmlLength = 0, binaryLength = 0;
    plist_to_xml(dict, &xml, &xmlLength);
    plist_to_bin(dict, &binary, &binaryLength);
    plist_free(dict);
    const std::pair<std::string, std::string> expected[] = {
        {"Name", "String Zoë & co"}, {"Empty", "String "},  {"Integer", "Number 42"}, {"Negative", "Number -7"},
        {"Real", "Number 1.5"},      {"Flag", "Boolean 1"}, {"Data", "Data "},        {"List", "Array "},
        {"Dict", "Dictionary "},     {"Date", "Date 2001-01-01T00:00:00Z"}};
    const char* kinds[] = {"String", "Number", "Boolean", "Date", "Data", "Array", "Dictionary"};
    for (auto bytes : {std::string_view(xml, xmlLength), std::string_view(binary, binaryLength)}) {
        const auto info = InfoPlist::fromBytes(bytes);
        for (const auto& [key, description] : expected) {
            const auto value = info.value(key);
            ASSERT_TRUE(value) << key;
            EXPECT_EQ(std::string(kinds[int(value->kind)]) + " " + value->text, description);
            EXPECT_EQ(value->isNonEmptyString(), key == "Name") << key;
        }
        EXPECT_FALSE(info.value("Missing"));
    }
    for (auto bad : {std::string(""), std::string("garbage\n\x01"), std::string(xml, 200), std::string("bplist00\xff\xff"),
                     std::string("<plist version=\"1.0\"><array><string>a</string></array></plist>")}) {
        EXPECT_TRUE(InfoPlist::fromBytes(bad).empty()) << bad;
    }
    std::free(xml);
    std::free(binary);
    // The parser recurses and copies shared values: what is deep, wide or
    // self-multiplying never reaches it (a crash, or gigabytes, otherwise).
    for (const auto& [bytes, readable] : std::vector<std::pair<std::string, bool>>{
             {nestedXml(8), true}, {nestedXml(600), false}, {nestedXml(200000), false}, {nestedBinary(4, 2), true},
             {nestedBinary(100000, 1), false}, {nestedBinary(22, 2), false}}) {
        EXPECT_EQ(InfoPlist::fromBytes(bytes).value("CFBundleIdentifier").has_value(), readable) << bytes.size();
    }
}

using BundleOnDisk = Scratch;

TEST_F(BundleOnDisk, ReadsContentsInfoPlistAndTreatsAnEmptyIdentifierAsNone) {
    fs::create_directories(root / "Contents");
    EXPECT_FALSE(GtkBundle(root).bundleIdentifier());
    std::ofstream(root / "Contents/Info.plist") << "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
                                                   "<string>com.example.shell</string><key>Origin</key><integer>4"
                                                   "</integer></dict></plist>";
    const GtkBundle bundle(root);
    EXPECT_EQ(bundle.bundleIdentifier(), "com.example.shell");
    EXPECT_EQ(bundle.infoString("Origin"), std::nullopt);
    std::ofstream(root / "Contents/Info.plist") << "<plist><dict><key>CFBundleIdentifier</key><string></string></dict></plist>";
    EXPECT_FALSE(GtkBundle(root).bundleIdentifier());

    // A downloaded bundle names what it likes there: nothing is followed,
    // read without end or waited for.
    std::ofstream(root / "Contents/Info.plist") << nestedXml(1);
    for (const auto& name : {"folder-link", "file-link", "zero", "fifo"}) fs::create_directories(root / name);
    fs::create_directory_symlink(root / "Contents", root / "folder-link/Contents");
    fs::create_directories(root / "file-link/Contents");
    fs::create_symlink(root / "Contents/Info.plist", root / "file-link/Contents/Info.plist");
    fs::create_directories(root / "zero/Contents");
    fs::create_symlink("/dev/zero", root / "zero/Contents/Info.plist");
    fs::create_directories(root / "fifo/Contents");
    ASSERT_EQ(::mkfifo((root / "fifo/Contents/Info.plist").c_str(), 0600), 0);
    EXPECT_EQ(GtkBundle(root).bundleIdentifier(), "x");
    for (const auto& name : {"folder-link", "file-link", "zero", "fifo"}) {
        EXPECT_FALSE(GtkBundle(root / name).bundleIdentifier()) << name;
    }
}

using Replacement = Scratch;

TEST_F(Replacement, IsOneExchangeThatNeverLeavesTheInstalledPathEmpty) {
    const fs::path installed = root / "Corvidale.app", staging = root / ".Corvidale.app.update-1";
    const auto make = [](const fs::path& app, const std::string& version) {
        fs::create_directories(app / "Contents/MacOS");
        for (int i = 0; i < 40; ++i) std::ofstream(app / "Contents" / std::to_string(i)) << i;
        std::ofstream(app / "Contents/MacOS/corvidale") << version;
    };
    make(installed, "old");
    LocalFileManager files;
    EXPECT_TRUE(files.replaceItem(installed, root / "absent"));
    EXPECT_EQ(slurp(installed / "Contents/MacOS/corvidale"), "old");

    // A watcher in a tight loop finds a whole app there at every instant.
    const std::string executable = installed / "Contents/MacOS/corvidale";
    std::atomic<bool> done{false};
    std::atomic<long> looks{0}, misses{0};
    std::thread watcher([&] {
        for (; !done; ++looks) misses += ::access(executable.c_str(), F_OK) != 0;
    });
    for (int round = 0; round < 10; ++round) {
        make(staging, std::to_string(round));
        ASSERT_FALSE(files.replaceItem(installed, staging));
        EXPECT_EQ(slurp(executable), std::to_string(round));
        EXPECT_FALSE(fs::exists(staging));
    }
    done = true;
    watcher.join();
    EXPECT_EQ(misses, 0);
    EXPECT_GT(looks, 1000);
}

TEST(Accelerators, CommandIsPrimaryUpperCaseAddsShiftAndZoomKeysHaveAlternatives) {
    const std::pair<std::string, Strings> cases[] = {
        {"q", {"<Primary>q"}}, {"Z", {"<Primary><Shift>z"}}, {"0", {"<Primary>0"}}, {"f", {"<Primary>f"}},
        {"+", {"<Primary>plus", "<Primary>equal", "<Primary>KP_Add"}}, {"-", {"<Primary>minus", "<Primary>KP_Subtract"}},
        {"", {}}, {"ab", {}}, {"\xff", {}}};
    for (const auto& [key, accelerators] : cases) EXPECT_EQ(acceleratorsForKeyEquivalent(key), accelerators) << key;
    EXPECT_EQ(menuLabel("Save_As…"), "Save__As…");
}

TEST(CommandLine, KeyValuePairsHelpVersionAndLinks) {
    struct Case {
        Strings arguments;
        std::string parsed;  // help, version, the argument domain, what was set aside, the links
    };
    const Case cases[] = {
        {{"-downloadSelfTest", "YES", "-updateFeed", "file:///f"}, "00 downloadSelfTest=YES updateFeed=file:///f | >"},
        {{"-offset", "-1", "-offset", "-2"}, "00 offset=-2 | >"},
        {{"-a", "b", "--version"}, "01 a=b | >"},
        {{"--help", "-key", "--help"}, "10 key=--help | >"},
        {{"--unknown", "file.txt", "-", "-dangling"}, "00 | --unknown file.txt - -dangling >"},
        {{"corvidale://open/x?y", "-k", "v", "//evil", "a+b.c-d:x", "1a:b", ":x", "a b:c"},
         "00 k=v | //evil 1a:b :x a b:c > corvidale://open/x?y a+b.c-d:x"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"corvidale"};
        for (const auto& argument : c.arguments) argv.push_back(argument.c_str());
        const auto line = parseCommandLine(int(argv.size()), argv.data());
        std::string parsed = std::to_string(line.help) + std::to_string(line.version);
        for (const auto& [key, value] : line.argumentDomain) parsed += " " + key + "=" + value;
        parsed += " |";
        for (const auto& ignored : line.ignored) parsed += " " + ignored;
        parsed += " >";
        for (const auto& link : line.links) parsed += " " + link;
        EXPECT_EQ(parsed, c.parsed);
    }
}

TEST(SavedFrame, TwoSaneWholeNumbersOnly) {
    int width = -5, height = -5;
    for (auto bad : {"", "900", "900 x", "0 650", "900 -1", "99999 650", "1 2 3", "900,650"}) {
        EXPECT_FALSE(parseSavedFrame(bad, width, height)) << bad;
    }
    EXPECT_EQ(width, -5);
    ASSERT_TRUE(parseSavedFrame(" 900 650 ", width, height));
    EXPECT_EQ(std::pair(width, height), std::pair(900, 650));
    GError* error = g_error_new_literal(g_quark_from_static_string("WebKitDownloadError"), 400, "Cancelled");
    EXPECT_EQ(describeError(error), "Error Domain=WebKitDownloadError Code=400 \"Cancelled\"");
    g_error_free(error);
}

TEST(MainQueue, PostedAndDelayedJobsRunLaterOnTheMainThread) {
    GLibMainQueue queue;
    std::atomic<int> ran{0};
    std::thread::id ranOn;
    std::thread([&] { queue.post([&] { ranOn = std::this_thread::get_id(), ++ran; }); }).join();
    queue.after(0.2, [&] { ++ran; });
    EXPECT_EQ(ran, 0) << "nothing runs inside the call";
    const gint64 start = g_get_monotonic_time();
    EXPECT_TRUE(queue.runUntil([&] { return ran == 2; }, 5.0));
    EXPECT_GE(g_get_monotonic_time() - start, 190000);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_FALSE(queue.runUntil([] { return false; }, 0.1));
    int fired = 0;
    auto timer = queue.repeating(0.02, [&] { ++fired; });
    EXPECT_TRUE(queue.runUntil([&] { return fired >= 2; }, 5.0));
    timer->invalidate();
    EXPECT_FALSE(queue.runUntil([] { return false; }, 0.1));
    EXPECT_EQ(fired, 2);
}

}  // namespace
}  // namespace corvidale::gtk
