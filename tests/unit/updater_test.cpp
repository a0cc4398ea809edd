#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <thread>

#include "core/updater/failure.h"
#include "core/updater/feed.h"
#include "core/updater/feed_signature.h"
#include "core/updater/pipeline.h"
#include "core/updater/relaunch.h"
#include "core/updater/tool_table.h"
#include "core/updater/version.h"
#include "curl/url_session.h"

extern char** environ;

namespace corvidale::updater {
namespace {

using platform::PlistValue;
using namespace std::string_literals;

TEST(Version, DecimalRuleAndInfoPlistFallbacks) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max(), kMin = std::numeric_limits<std::int64_t>::min();
    const std::optional<std::int64_t> none;
    const std::vector<std::pair<std::string, std::optional<std::int64_t>>> cases = {
        {"57", 57}, {"0057", 57}, {"+57", 57}, {"-57", -57}, {"-0", 0}, {"9223372036854775807", kMax},
        {"-9223372036854775808", kMin}, {"+0009223372036854775807", kMax}, {"9223372036854775808", none},
        {"-9223372036854775809", none}, {"99999999999999999999", none}, {"", none}, {"-", none}, {"+-5", none},
        {"57.1", none}, {" 57", none}, {"57 ", none}, {"5 7", none}, {"1,000", none}, {"5a", none}, {"\u0663", none},
        {std::string("5\0", 2), none},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(parseDecimal(text), expected) << '"' << text << '"';

    const PlistValue number{PlistValue::Kind::Number, "57"};
    EXPECT_EQ(versionFromInfo(std::nullopt), "?");
    EXPECT_EQ(versionFromInfo(number), "?");
    EXPECT_EQ(versionFromInfo(PlistValue{PlistValue::Kind::String, "1.4.0"}), "1.4.0");
    EXPECT_EQ(buildFromInfo(std::nullopt), 0);
    EXPECT_EQ(buildFromInfo(number), 0);
    EXPECT_EQ(buildFromInfo(PlistValue{PlistValue::Kind::String, "1.2.3"}), 0);
    EXPECT_EQ(buildFromInfo(PlistValue{PlistValue::Kind::String, "0057"}), 57);
}

TEST(Failure, EveryErrorBecomesAnOutcomeForTheUserAndTheLog) {
    for (const auto& [error, text] : std::vector<std::pair<std::exception_ptr, std::string>>{
             {std::make_exception_ptr(Failure::install("/opt is not writable")),
              "Couldn't replace the app: /opt is not writable / install(\"/opt is not writable\")"},
             {std::make_exception_ptr(Failure::download()), "The download didn't complete. / download"},
             {std::make_exception_ptr(SystemError::fromErrno(ENOSPC, "/opt/x")),
              "No space left on device: /opt/x / Error Domain=NSPOSIXErrorDomain Code=28 \"No space left on device\" "
              "UserInfo={NSFilePath=/opt/x}"},
             {std::make_exception_ptr(std::bad_alloc()), "std::bad_alloc / std::bad_alloc"},
             {std::make_exception_ptr(42), "An unknown error occurred. / unknown"}}) {
        const auto report = describe(error);
        EXPECT_EQ(report.localizedDescription + " / " + report.diagnostic, text);
    }
}

TEST(Feed, FeedUrlChoice) {
    const std::optional<std::string> own = "com.corvidale.desktop", none;
    const auto onLinux = TargetSystem::Linux;
    EXPECT_EQ(feedURL("file:///tmp/feed.json", "other.app", onLinux), "file:///tmp/feed.json");
    EXPECT_EQ(feedURL("https://feed.test/f.json", none, onLinux), "https://feed.test/f.json");
    EXPECT_EQ(feedURL("not a url", own, onLinux), "https://corvidale.com/downloads/linux.json");
    EXPECT_EQ(feedURL(none, own, TargetSystem::Mac), "https://corvidale.com/downloads/mac.json");
    // The feed's signature sits beside it, whatever query or fragment the feed's address carries.
    EXPECT_EQ(feedSignatureURL("https://x/linux.json"), "https://x/linux.json.sig");
    EXPECT_EQ(feedSignatureURL("https://x/linux.json#top?v=2"), "https://x/linux.json.sig#top?v=2");
    EXPECT_EQ(feedURL("not a url", "other.app", onLinux), none);
    EXPECT_EQ(feedURL(none, "COM.corvidale.desktop", onLinux), none);
    EXPECT_EQ(feedURL(none, none, onLinux), none);
    EXPECT_EQ(builtInFeedURL(), "https://corvidale.com/downloads/linux.json");
}

TEST(Signers, AMacTeamLineNamesOneTeamWholeAndThisSystemUsesItsOwnTools) {
    const auto& mac = toolTable(TargetSystem::Mac);
    const SigningPins team{{kMacTeamIdentifier}, 1};
    EXPECT_TRUE(signedByPins("Identifier=x\nTeamIdentifier=K4W9PZ2TQ7\n", mac, team));
    EXPECT_FALSE(signedByPins("TeamIdentifier=K4W9PZ2TQ7,K4W9PZ2TQ7\n", mac, team));
    EXPECT_EQ(toolTable().attach.executable, "{helpers}/corvidale-image");
}

pid_t start(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (const auto& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    return ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

TEST(Relaunch, CommandWaitsForTheOldProcessThenReopensExactlyThatBundle) {
    const auto mac = relaunchCommand("/Applications/Example.app", TargetSystem::Mac, 41);
    EXPECT_TRUE(mac.ends_with("; /usr/bin/open \"/Applications/Example.app\"")) << mac;
    EXPECT_NE(mac.find("kill -0 41 "), std::string::npos) << mac;
    char folder[] = "/tmp/corvidale-relaunch-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string root = folder, smuggle = "touch " + root + "/PWNED";
    // The old process: one reaped at once, one left unreaped.
    const pid_t reaped = start({"/bin/sleep", "30"}), old = start({"/bin/sleep", "30"});
    std::multiset<std::string> expected, ran;
    std::vector<pid_t> shells;
    for (const auto& name : {"Plain.app"s, "a \"q\" $(" + smuggle + ") `" + smuggle + "` \\\" \\ $HOME ${IFS} $0\n"
                                   "line; " + smuggle + " & 'single' | > < * ?.app"}) {
        const auto executable = root + "/" + name + "/Contents/MacOS/corvidale";
        std::filesystem::create_directories(std::filesystem::path(executable).parent_path());
        std::ofstream(executable) << "#!/bin/sh\nprintf '%s\\0' \"$0\" >>" << root << "/started\n";
        std::filesystem::permissions(executable, std::filesystem::perms::owner_all);
        expected.insert(executable);
        shells.push_back(start({"/bin/sh", "-c", relaunchCommand(root + "/" + name, TargetSystem::Linux,
                                                                 shells.empty() ? reaped : old)}));
    }
    // Nothing reopens while the old process lives; it is gone once it has
    // exited, even before its parent reaps it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_FALSE(std::filesystem::exists(root + "/started"));
    ::kill(old, SIGKILL);
    ::kill(reaped, SIGKILL);
    ::waitpid(reaped, nullptr, 0);
    const auto killed = std::chrono::steady_clock::now();
    for (const pid_t shell : shells) ::waitpid(shell, nullptr, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::seconds(3));
    ::waitpid(old, nullptr, 0);
    std::ifstream started(root + "/started");
    for (std::string line; std::getline(started, line, '\0');) ran.insert(line);
    EXPECT_EQ(ran, expected);
    EXPECT_FALSE(std::filesystem::exists(root + "/PWNED"));
    std::filesystem::remove_all(root);
}

std::string feed(const std::string& build, const std::string& file = "\"C.dmg\"", const std::string& more = "",
                 const std::string& version = "2.0") {
    return R"({"version": ")" + version + R"(", "build": )" + build + R"(, "file": )" + file + R"(, "sha256": "AB")" +
           more + "}";
}
std::string nested(std::size_t depth, const std::string& inside = "58") {
    return std::string(depth, '[') + inside + std::string(depth, ']');
}

// One check as one line: "58 <image URL>", "nothing", or the error's diagnostic text.
std::string check(platform::URLSession& session, const std::string& url,
                  std::optional<std::string> bundleId = "com.corvidale.desktop") {
    try {
        const auto release = fetchNewerRelease(session, url, RunningApp{std::move(bundleId), 57});
        return release ? std::to_string(release->build) + " " + release->imageURL : "nothing";
    } catch (...) {
        return describe(std::current_exception()).diagnostic;
    }
}

TEST(Feed, NotesArePlainTextCutAtACharacterAndNeverMakeTheFeedUnreadable) {
    const std::string a(16380, 'a');
    const std::vector<std::pair<std::string, std::optional<std::string>>> rows = {
        {R"("Fixes.\nFaster.\tNow.")", "Fixes.\nFaster.\tNow."},
        {R"("a\u0000b\u001b[2J\r\nc\u0085d\u007f")", "ab[2J\ncd"},
        {R"("\u202eevil\u2066x\u2069\u200f ok\u2028")", "evilx ok\n"},
        {R"("<b>bold</b> <a href=x>y</a>")", "<b>bold</b> <a href=x>y</a>"},  // shown as it reads, never as markup
        {"42", std::nullopt}, {R"({"x": "y"})", std::nullopt}, {R"("\u0000\u0001 \n")", std::nullopt},
        {"\"" + std::string(1 << 20, 'x') + "\"", std::string(16381, 'x') + "\u2026"},
        {"\"" + a + "\u00e9bbbbbbbbbb\"", a + "\u2026"},
        {"\"" + a + "\u00e9bb\"", a + "\u00e9bb"},  // exactly as long as allowed
    };
    for (const auto& [notes, expected] : rows) {
        platform::URLResponse response{true, 200, false, feed("58", "\"a\"", ", \"notes\": " + notes), "", ""};
        const auto release = readFeed(response, "https://x/f.json", {"com.corvidale.desktop", 57});
        ASSERT_TRUE(release) << notes.substr(0, 40);
        EXPECT_EQ(release->notes, expected) << notes.substr(0, 40);
    }
}

TEST(Feed, DeltasAreReadWhereWholeAndNeverMakeTheFeedUnreadable) {
    std::string many;
    for (int i = 0; i < 70; ++i) many += R"(, {"from": 1, "file": "m", "sha256": "x"})";
    const std::vector<std::pair<std::string, std::string>> rows = {
        {R"([{"from": 56, "file": "d/56.delta", "sha256": "AB"}, {"from": "+55", "file": "https://cdn.test/55", "sha256": "cd"},
            {"from": 54.5, "file": "x", "sha256": "1"}, {"from": 53, "file": 7, "sha256": "1"}, {"from": 52, "file": "x"},
            {"from": 51, "file": "ftp://x/y", "sha256": "1"}, {"from": 50, "file": "http://[::1", "sha256": "1"}, 3, "s"])",
         "56 https://x/d/56.delta AB|55 https://cdn.test/55 cd|"},
        {R"({"from": 56, "file": "d", "sha256": "AB"})", ""}, {"null", ""}, {"[]", ""},
        {R"([{"from": 2, "file": "m", "sha256": "x"})" + many + "]", std::string("2 https://x/m x|") + [] {
             std::string rest;
             for (int i = 1; i < 64; ++i) rest += "1 https://x/m x|";
             return rest;
         }()},
    };
    for (const auto& [deltas, expected] : rows) {
        platform::URLResponse response{true, 200, false, feed("58", "\"a\"", ", \"deltas\": " + deltas), "", ""};
        const auto release = readFeed(response, "https://x/f.json", {"com.corvidale.desktop", 57});
        ASSERT_TRUE(release) << deltas;
        std::string seen;
        for (const auto& delta : release->deltas) seen += std::to_string(delta.from) + " " + delta.url + " " + delta.sha256 + "|";
        EXPECT_EQ(seen, expected) << deltas.substr(0, 60);
    }
}

TEST(Feed, ValidatesWhatHttpsAndFileUrlsServe) {
    char folder[] = "/tmp/corvidale-feed-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string dir = folder, cert = dir + "/cert.pem", key = dir + "/key.pem";
    ASSERT_EQ(std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -subj "
                           "/CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " + key + " -out " + cert +
                           " 2>/dev/null").c_str()), 0);
    std::map<std::string, std::pair<int, std::string>> served;  // path → status, body (or redirect target)
    httplib::SSLServer server(cert.c_str(), key.c_str());
    server.Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
        if (request.path == "/stalls") {  // one byte, then nothing for two seconds
            return response.set_chunked_content_provider("text/plain", [](std::size_t at, httplib::DataSink& sink) {
                return at == 0 ? sink.write("x", 1) : (std::this_thread::sleep_for(std::chrono::seconds(2)), false);
            });
        }
        if (request.path.starts_with("/drips/")) {  // /drips/<bytes>[/unsized]: 200 bytes every 50 ms
            const std::size_t bytes = std::stoul(request.path.substr(7));
            const auto drip = [bytes](std::size_t at, httplib::DataSink& sink) {
                if (at >= bytes) return sink.done(), true;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                return sink.write(std::string(200, 'x').data(), 200);
            };
            if (request.path.ends_with("/unsized")) return response.set_chunked_content_provider("text/plain", drip);
            return response.set_content_provider(bytes, "text/plain", [drip](std::size_t at, std::size_t, auto& sink) {
                return drip(at, sink);
            });
        }
        const auto found = served.find(request.path);
        response.status = found == served.end() ? 404 : found->second.first;
        if (response.status == 302) return response.set_redirect(found->second.second);
        if (found != served.end()) response.set_content(found->second.second, "application/json");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread listener([&] { server.listen_after_bind(); });
    const std::string origin = "https://127.0.0.1:" + std::to_string(port);
    curl::CurlURLSession session(cert);

    const std::string unreadable = "feed(\"unreadable\")", otherApp = "feed(\"it is for another app\")";
    const std::string atCap = feed("58") + std::string(kMaxFeedBytes - feed("58").size(), ' ');
    struct Row {
        std::string path;  // "file:name" is a file in the folder
        int status;
        std::string body, expected;  // {o}: the server's origin, {d}: the folder
        std::optional<std::string> running = "com.corvidale.desktop";
    };
    const std::vector<Row> rows = {
        {"/f/number", 200, feed("58"), "58 {o}/f/C.dmg"},
        {"/f/string", 200, feed("\"+0058\""), "58 {o}/f/C.dmg"},
        {"/f/parent", 200, feed("58", "\"../img/C.dmg?v=2\""), "58 {o}/img/C.dmg?v=2"},
        {"/f/absolute", 200, feed("58", "\"http://cdn.test:81/C.dmg\""), "58 http://cdn.test:81/C.dmg"},
        {"/f/equal", 200, feed("57"), "nothing"},
        {"/f/304", 304, feed("58"), unreadable},
        {"/f/404", 404, feed("58"), unreadable},
        {"/f/html", 200, "<html>", unreadable},
        {"/f/array", 200, "[" + feed("58") + "]", unreadable},
        {"/f/no-version", 200, R"({"build": 58, "file": "a", "sha256": "x"})", unreadable},
        {"/f/no-build", 200, R"({"version": "2", "file": "a", "sha256": "x"})", unreadable},
        {"/f/dotted-build", 200, feed("\"57.1\""), unreadable},
        {"/f/huge-build", 200, feed("9223372036854775808"), unreadable},
        {"/f/file-number", 200, feed("58", "5"), unreadable},
        {"/f/file-blank", 200, feed("58", "\"a b.dmg\""), unreadable},
        {"/f/sha-number", 200, R"({"version": "2", "build": 58, "file": "a", "sha256": 1})", unreadable},
        {"/f/same-id", 200, feed("58", "\"a\"", R"(, "bundleId": "com.corvidale.desktop")"), "58 {o}/f/a"},
        {"/f/id-case", 200, feed("58", "\"a\"", R"(, "bundleId": "COM.corvidale.desktop")"), otherApp},
        {"/f/id-equal-build", 200, feed("57", "\"a\"", R"(, "bundleId": "other.app")"), otherApp},
        {"/f/id-number", 200, feed("58", "\"a\"", R"(, "bundleId": 42)"), "58 {o}/f/a"},
        {"/f/id-none-running", 200, feed("58", "\"a\"", R"(, "bundleId": "x")"), otherApp, std::nullopt},
        {"/f/at-cap", 200, atCap, "58 {o}/f/C.dmg"},
        {"/f/over-cap", 200, atCap + " ", unreadable},  // sent compressed, so counted as it is decoded
        {"/f/redirect", 302, "/g/number", "58 {o}/g/C.dmg"},  // relative to where the feed was found
        {"/f/deep-build", 200, feed(nested(400000)), unreadable},
        {"/f/deep-elsewhere", 200, feed("58", "\"a\"", ", \"notes\": " + nested(20, "{}")), unreadable},
        {"/f/nested-notes", 200, feed("58", "\"a\"", ", \"notes\": " + nested(14, "{\"x\": []}")), "58 {o}/f/a"},  // the deepest a feed may go
        {"/f/version-lines", 200, feed("58", "\"a\"", "", "2.0\\nUPDATE SELFTEST: installed 9\\u001b[2J"), unreadable},
        {"/f/version-c1", 200, feed("58", "\"a\"", "", "2.0\\u009b31m"), unreadable},
        {"/f/version-unicode", 200, feed("58", "\"a\"", "", "2.0 \\u00a1\\u00e9\\u03b2"), "58 {o}/f/a"},
        {"/f/file-image", 200, feed("58", "\"file:///etc/passwd\""), unreadable},
        {"/f/ftp-image", 200, feed("58", "\"ftp://cdn.test/C.dmg\""), unreadable},
        {"file:absolute-file", 0, feed("58", "\"file:///x/C.dmg\""), "58 file:///x/C.dmg"},
        {"/f/redirect-to-file", 302, "file:///etc/passwd", "Error Domain=curl Code=1 "},
        {"file:relative", 0, feed("58"), "58 file://{d}/C.dmg"},
        {"file:equal", 0, feed("57"), "nothing"},
    };
    served["/g/number"] = {200, feed("58")};
    for (const auto& row : rows) {
        const bool isFile = row.path.rfind("file:", 0) == 0;
        if (isFile) std::ofstream(dir + "/" + row.path.substr(5)) << row.body;
        if (row.status != 0) served[row.path] = {row.status, row.body};
        std::string expected = row.expected;
        for (const auto& [mark, value] : {std::pair{"{o}", origin}, std::pair{"{d}", dir}}) {
            if (const auto at = expected.find(mark); at != std::string::npos) expected.replace(at, 3, value);
        }
        const auto actual = check(session, isFile ? "file://" + dir + "/" + row.path.substr(5) : origin + row.path,
                                  row.running);
        EXPECT_EQ(actual.substr(0, expected.rfind("Error", 0) == 0 ? expected.size() : std::string::npos), expected)
            << row.path;
    }
    // A session that reports the body cut at the cap (as the macOS one does,
    // keeping what came) makes it unreadable, whatever that part says.
    struct CutAtTheCap : platform::URLSession {
        platform::URLResult data(const platform::URLRequest&, std::uint64_t) override {
            return {std::nullopt, {true, 200, true, feed("58"), "", ""}};
        }
        platform::URLResult download(const platform::URLRequest&, const platform::DownloadLimits&, const std::string&,
                                     const platform::DownloadWatch&) override { return {}; }
    } cutAtTheCap;
    EXPECT_EQ(check(cutAtTheCap, origin + "/f/number"), unreadable);
    // Transport errors pass through as the session's own: untrusted, absent, refused.
    curl::CurlURLSession systemTrust;
    EXPECT_EQ(check(systemTrust, origin + "/f/number").rfind("Error Domain=curl Code=60 ", 0), 0u);
    EXPECT_EQ(check(session, "file://" + dir + "/absent.json").rfind("Error Domain=curl Code=37 ", 0), 0u);

    ::setenv("TMPDIR", folder, 1);  // downloads: a fresh temporary file, none left when cut off or stalled
    const auto whole = session.download({origin + "/f/at-cap"}, {kMaxFeedBytes, 0, 0});
    ASSERT_EQ(whole.response.filePath.rfind(dir + "/corvidale-download-", 0), 0u);
    EXPECT_EQ(std::filesystem::file_size(whole.response.filePath), kMaxFeedBytes);
    std::filesystem::remove(whole.response.filePath);
    EXPECT_TRUE(session.download({origin + "/f/over-cap"}, {kMaxFeedBytes, 0, 0}).response.exceededMaxBytes);
    const auto stalled = session.download({origin + "/stalls"}, {0, 100, 1}).error.value_or(platform::Error{});
    EXPECT_EQ(stalled.fullDescription.substr(0, 26), "Error Domain=curl Code=28 ");
    // One the disk cannot hold (here: a file size limit) says so.
    rlimit sizes{};
    ::getrlimit(RLIMIT_FSIZE, &sizes);
    const rlimit small{1000, sizes.rlim_max};
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    const auto full = session.download({origin + "/f/at-cap"}, {kMaxFeedBytes, 0, 0});
    ::setrlimit(RLIMIT_FSIZE, &sizes);
    ::signal(SIGXFSZ, previous);
    EXPECT_EQ(full.error.value_or(platform::Error{}).localizedDescription.substr(0, 30), "Couldn't save the download as ");
    // However steadily it moves, a transfer ends when its size says it is late, or at the ceiling without one.
    for (const auto& [path, average, expected] : std::vector<std::tuple<std::string, std::uint64_t, std::string>>{
             {"/drips/4000", 8000, "it may take 1 seconds at most."}, {"/drips/4000", 2000, ""},
             {"/drips/8000/unsized", 2000, "it may take 2 seconds at most."}}) {
        const auto result = session.download({origin + path}, {0, 0, 0, 0.2, average, 1.5});
        EXPECT_EQ(result.error ? result.error->localizedDescription : "", expected.empty() ? "" :
                  "The download took too long: " + expected) << path;
        if (!result.error) std::filesystem::remove(result.response.filePath);
    }
    // Its watcher sees it move and may end it.
    std::vector<std::uint64_t> seen;
    bool announced = false;
    const auto stopped = session.download({origin + "/drips/8000"}, {}, "", {[&](auto received, auto expected) {
        seen.push_back(received);
        announced = announced || expected == 8000u;
        return received < 2000;
    }});
    EXPECT_EQ(stopped.error.value_or(platform::Error{}).localizedDescription, "The download was stopped.");
    EXPECT_TRUE(announced && std::is_sorted(seen.begin(), seen.end()) && seen.back() >= 2000 && seen.back() < 8000);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 5);  // certificate, key, three feeds
    ::unsetenv("TMPDIR");
    server.stop();
    listener.join();
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace corvidale::updater
