#include <gtest/gtest.h>
#include <httplib.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "core/updater/failure.h"
#include "core/updater/pipeline.h"
#include "gtk/url_session.h"

namespace corvidale::Updater {
namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::string>;  // relative path → content ("/" for a folder)

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void put(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}
Tree snapshot(const fs::path& root) {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        tree[fs::relative(entry.path(), root)] = entry.is_directory() ? "/" : slurp(entry.path());
    }
    return tree;
}
// An app with its identifier in Contents/id, as the file manager below reads it.
void makeApp(const fs::path& app, const std::string& id, const std::string& build) {
    if (!id.empty()) put(app / "Contents/id", id);
    put(app / "Contents/MacOS/corvidale", build);
}

// Replaces by removing and renaming; reads identifiers from Contents/id.
struct ScratchFiles : platform::FileManager {
    std::string temp;
    std::optional<platform::Error> refuse;
    std::string temporaryDirectory() override { return temp; }
    std::optional<platform::Error> replaceItem(const std::string& original, const std::string& item) override {
        if (refuse) return refuse;
        fs::remove_all(original);
        fs::rename(item, original);
        return std::nullopt;
    }
    std::optional<std::string> bundleIdentifierAt(const std::string& path) override {
        return fs::exists(path + "/Contents/id") ? std::optional(slurp(path + "/Contents/id")) : std::nullopt;
    }
};

TEST(Pipeline, EveryFailureLeavesTheAppAndCleansUp) {
    char folder[] = "/tmp/corvidale-pipeline-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const fs::path s = folder, apps = s / "Apps", app = apps / "Corvidale.app", tmp = s / "tmp";
    const std::string tool = s / "tool.sh", pin = std::string(64, 'a'), line = "TeamIdentifier=" + pin, team = line + "\n";
    const auto at = [&](const char* name) { return (s / name).string(); };
    // A copy fails halfway, the other steps before doing anything.
    put(tool, "#!/bin/sh\nstep=$1; shift; echo $step >>" + at("log") + "\n[ $step = copy ] && cp -a \"$1\" \"$2\"\n"
              "grep -qx $step " + at("fail") + " && exit 1\ncase $step in attach) cp -a " + at("volume") +
              "/. \"$2\";; details) cat " + at("details") + ";; detach) rm -rf \"$1\";; esac\nexit 0\n");
    fs::permissions(tool, fs::perms::owner_all);
    ToolTable tools{{tool, {"attach", "{image}", "{mount}"}}, {tool, {"verify", "{app}"}}, {tool, {"details", "{app}"}},
                    {tool, {"assess", "{app}/Contents/MacOS/corvidale"}}, {tool, {"copy", "{app}", "{staging}"}},
                    {tool, {"detach", "{mount}"}}};
    const std::string image = "the image", sha = sha256Hex(image);
    put(s / "site/C.sqfs", image);

    httplib::Server server;  // answers /<status> with that status and the image
    server.Get(R"(/(\d+))", [&](const httplib::Request& request, httplib::Response& response) {
        response.status = std::stoi(request.matches[1]);
        response.set_content(image, "application/octet-stream");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread listener([&] { server.listen_after_bind(); });
    gtk::CurlURLSession session;
    ScratchFiles files;
    files.temp = tmp;
    ::setenv("TMPDIR", tmp.c_str(), 1);

    const std::string fileURL = "file://" + (s / "site/C.sqfs").string(), http = "http://127.0.0.1:" + std::to_string(port);
    const std::string all = "attach verify details assess copy detach", verified = "attach verify details detach";
    const std::string uuid = "0F6E1C2A-3B4D-4E5F-8A9B-0C1D2E3F4A5B";
    struct Row {
        std::string name, expected, log;  // the failure's diagnostic ("" installed), the tools that ran
        std::function<void(Release&, InstallTarget&, ScratchFiles&)> change{};
        std::function<void()> setUp{};
        std::string installed = "new";  // what the installed executable holds on success
    };
    const auto volume = [&](std::vector<std::pair<std::string, std::string>> apps) {
        return [&s, apps] {
            fs::remove_all(s / "volume");
            for (const auto& [name, id] : apps) makeApp(s / "volume" / name, id, name);
        };
    };
    const std::vector<Row> rows = {
        {"installs", "", all},
        {"upper-case digest", "", all, [&](Release& r, auto&, auto&) { r.sha256 = sha256Hex(image); 
            for (auto& c : r.sha256) c = static_cast<char>(std::toupper(c)); }},
        {"digest and a newline", "checksum", "", [&](Release& r, auto&, auto&) { r.sha256 += "\n"; }},
        {"digest and a blank", "checksum", "", [&](Release& r, auto&, auto&) { r.sha256 += " "; }},
        {"no such file", "Error Domain=curl Code=37", "", [&](Release& r, auto&, auto&) { r.dmg += ".gone"; }},
        {"HTTP 304", "download", "", [&](Release& r, auto&, auto&) { r.dmg = http + "/304"; }},
        {"HTTP 206", "download", "", [&](Release& r, auto&, auto&) { r.dmg = http + "/206"; }},
        {"HTTP 200", "", all, [&](Release& r, auto&, auto&) { r.dmg = http + "/200"; }},
        {"over the cap", "download", "", [&](auto&, InstallTarget& t, auto&) { t.limits.maxBytes = 4; }},
        {"attach fails", "install(\"the disk image would not open\")", "attach", {}, [&] { put(s / "fail", "attach"); }},
        {"only X.APP", "install(\"no app in the disk image\")", "attach detach", {},
         volume({{"X.APP", "com.corvidale.desktop"}, {".app", "com.corvidale.desktop"}})},
        {"two apps: the first", "", all, {}, volume({{"B.app", "x"}, {"A.app", "com.corvidale.desktop"}}), "A.app"},
        {"a link to an app", "install(\"no app in the disk image\")", "attach detach", {},
         [&] { fs::create_directory_symlink(app, s / "volume/A.app"); }},
        {"another identifier", "signature(\"a different app\")", "attach detach", {}, volume({{"A.app", "x"}})},
        {"no identifier", "signature(\"a different app\")", "attach detach", {}, volume({{"A.app", ""}})},
        {"verify fails", "signature(\"the signature does not verify\")", "attach verify detach", {},
         [&] { put(s / "fail", "verify"); }},
        {"another team", "signature(\"another team\")", verified, {}, [&] { put(s / "details", "TeamIdentifier=b\n"); }},
        {"the line only inside", "signature(\"another team\")", verified, {},
         [&] { put(s / "details", "Executable=/x/" + line + ".app/Contents/MacOS/corvidale\nTeamIdentifier=b\n"); }},
        {"the line twice", "signature(\"another team\")", verified, {}, [&] { put(s / "details", team + team); }},
        {"no pin", "signature(\"another team\")", verified, [&](auto&, InstallTarget& t, auto&) { t.team = ""; }},
        {"a newline in the name", "signature(\"another team\")", "attach verify detach", {},
         volume({{"A\n" + team + ".app", "com.corvidale.desktop"}})},
        {"assess fails", "signature(\"Gatekeeper refused it\")", "attach verify details assess detach", {},
         [&] { put(s / "fail", "assess"); }},
        {"copy fails", "install(\"" + apps.string() + " is not writable\")", all, {}, [&] { put(s / "fail", "copy"); }},
        {"replace fails", "install(\"Device busy\")", all,
         [&](auto&, auto&, ScratchFiles& f) { f.refuse = platform::Error{"Device busy", "EBUSY"}; }},
        {"package-managed", "install(\"" + apps.string() + " is managed by the package manager; update Corvidale "
                            "with it\")", "", {}, [&] { put(apps / ".package-managed", ""); }},
        {"leftovers", "", "detach " + all, {}, [&] {
             put(apps / (".Corvidale.app.update-" + uuid) / "ro/f", "old");
             fs::permissions(apps / (".Corvidale.app.update-" + uuid) / "ro", fs::perms::owner_exec);
             fs::create_directories(tmp / ("corvidale-update-" + uuid));
         }},
    };
    for (const auto& row : rows) {
        for (const auto& path : {apps, tmp, s / "volume", s / "log", s / "fail", s / "details"}) fs::remove_all(path);
        makeApp(app, "com.corvidale.desktop", "old");
        fs::create_directories(apps / ".Corvidale.app.update-notes");  // not a staging copy: stays
        fs::create_directories(tmp);
        put(s / "details", "Identifier=com.corvidale.desktop\n" + team);
        makeApp(s / "volume/Corvidale.app", "com.corvidale.desktop", "new");
        if (row.setUp) row.setUp();
        const Tree before = snapshot(apps);
        Release release{"2.0", 7, fileURL, sha};
        files.refuse.reset();
        InstallTarget target{app, "com.corvidale.desktop", session, files, pin, downloadLimits(std::nullopt)};
        if (row.change) row.change(release, target, files);
        std::string outcome;
        try {
            installRelease(release, target, tools);
        } catch (...) {
            outcome = describe(std::current_exception()).diagnostic;
        }
        EXPECT_EQ(outcome.rfind("Error", 0) == 0 ? outcome.substr(0, row.expected.size()) : outcome, row.expected)
            << row.name;
        std::string log = slurp(s / "log");
        std::replace(log.begin(), log.end(), '\n', ' ');
        EXPECT_EQ(log, row.log.empty() ? "" : row.log + " ") << row.name;
        Tree after = snapshot(apps), expected = before;
        if (row.expected.empty()) {
            expected = {{"Corvidale.app", "/"}, {"Corvidale.app/Contents", "/"}, {".Corvidale.app.update-notes", "/"},
                        {"Corvidale.app/Contents/MacOS", "/"}, {"Corvidale.app/Contents/id", "com.corvidale.desktop"},
                        {"Corvidale.app/Contents/MacOS/corvidale", row.installed}};
        }
        EXPECT_EQ(after, expected) << row.name;  // untouched, or the new app and nothing else
        EXPECT_TRUE(fs::is_empty(tmp)) << row.name;  // no image, no mount directory
    }
    ::unsetenv("TMPDIR");
    server.stop();
    listener.join();
    fs::remove_all(s);
}

TEST(Pipeline, ToolRunsDigestsAndLimits) {
    const auto big = "head -c 8388608 /dev/zero | tr '\\0' o & head -c 8388608 /dev/zero | tr '\\0' e >&2; wait";
    const auto output = runTool("/bin/sh", {"-c", big}).output;
    EXPECT_EQ(output.size(), 16u << 20);
    EXPECT_EQ(std::count(output.begin(), output.end(), 'o'), 8 << 20);
    for (const auto& [path, arguments, status, text] : std::vector<std::tuple<std::string, std::vector<std::string>, int,
                                                                       std::string>>{
             {"/usr/bin/printf", {"%s|", "two words", "$HOME", "'q'", "a\nb"}, 0, "two words|$HOME|'q'|a\nb|"},
             {"/bin/sh", {"-c", "printf 'a\\377b\\355\\240\\200c\\360\\237\\230\\200\\360\\237\\230'; exit 3"}, 3,
              "a\uFFFDb\uFFFD\uFFFD\uFFFDc\U0001F600\uFFFD"},
             {"/bin/sh", {"-c", "kill -9 $$"}, 9, ""},
             {"/no/such/tool", {}, -1,
              "Error Domain=NSPOSIXErrorDomain Code=2 \"No such file or directory\" UserInfo={NSFilePath=/no/such/tool}"}}) {
        const auto result = runTool(path, arguments);
        EXPECT_EQ(std::to_string(result.status) + " " + result.output, std::to_string(status) + " " + text);
    }
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string bytes(3 * 1048576 + 7, 'x'), path = ::testing::TempDir() + "digest";
    put(path, bytes);
    EXPECT_EQ(sha256HexOfFile(path), sha256Hex(bytes));
    fs::remove(path);
    EXPECT_TRUE(std::regex_match(makeUUID(), std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")));
    for (const auto& [value, cap] : std::vector<std::pair<std::optional<std::string>, std::uint64_t>>{
             {std::nullopt, 2ULL << 30}, {"5000000000", 5000000000}, {"100", 2ULL << 30}, {"-1", 2ULL << 30},
             {"lots", 2ULL << 30}}) {
        const auto limits = downloadLimits(value);
        EXPECT_EQ(limits.maxBytes, cap);
        EXPECT_EQ(limits.minBytesPerSecond * 60, limits.stallSeconds * 1024);
    }
}

}  // namespace
}  // namespace corvidale::Updater
