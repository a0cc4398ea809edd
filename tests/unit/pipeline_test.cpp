#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <thread>
#include <utility>

#include "core/updater/failure.h"
#include "core/updater/install_run.h"
#include "core/updater/pipeline.h"
#include "core/util/child_process.h"
#include "core/util/digest.h"
#include "curl/url_session.h"

extern char** environ;

namespace corvidale::updater {
namespace {

namespace fs = std::filesystem;
const std::string kId = "com.corvidale.desktop";

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
// Writes a file, or with "->target" a link to a folder.
void put(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    if (content.starts_with("->")) return fs::create_directory_symlink(content.substr(2), path);
    std::ofstream(path, std::ios::binary) << content;
}
// Every path below `root` with its content ("/" for a folder).
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        tree[fs::relative(entry.path(), root)] = entry.is_directory() ? "/" : slurp(entry.path());
    }
    return tree;
}

// An app's identifier is its Contents/id, its other Info.plist values are
// those in `info` ("#…" a number, any other a string).
struct ScratchBundle : platform::Bundle {
    std::string path;
    std::map<std::string, std::string, std::less<>> info;
    std::optional<platform::PlistValue> infoValue(std::string_view key) const override {
        const auto found = info.find(key);
        if (found == info.end()) return std::nullopt;
        using enum platform::PlistValue::Kind;
        if (found->second.starts_with('#')) return platform::PlistValue{Number, found->second.substr(1)};
        return platform::PlistValue{String, found->second};
    }
    std::optional<std::string> bundleIdentifier() const override {
        return fs::exists(path + "/Contents/id") ? std::optional(slurp(path + "/Contents/id")) : std::nullopt;
    }
    std::string bundlePath() const override { return path; }
};

// Replaces by removing and renaming. The installed app's Info.plist says
// what `installedInfo` holds, any other's what `info` holds.
struct ScratchFiles : platform::FileManager {
    std::string temp, cache, log, installed;  // the swap is noted in the stand-in tools' log
    std::optional<platform::Error> refuse, unreadable;
    std::map<std::string, std::string, std::less<>> info, installedInfo;
    int reads = 0;  // of the candidate's
    std::string temporaryDirectory() override { return temp; }
    std::string cachesDirectory() override { return cache; }
    std::optional<platform::Error> replaceItem(const std::string& original, const std::string& item) override {
        std::ofstream(log, std::ios::app) << "swap\n";
        if (refuse) return refuse;
        fs::remove_all(original);
        fs::rename(item, original);
        return std::nullopt;
    }
    std::variant<std::unique_ptr<platform::Bundle>, platform::Error> bundleAt(const std::string& path) override {
        reads += path != installed;
        if (unreadable && path != installed) return *unreadable;
        auto bundle = std::make_unique<ScratchBundle>();
        bundle->path = path;
        bundle->info = path == installed ? installedInfo : info;
        return bundle;
    }
};

// A process of a group of its own that holds `folder` locked, as the tool of
// a killed run does.
pid_t holdLocked(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    ::flock(fd, LOCK_EX);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    char* argv[] = {const_cast<char*>("/bin/sleep"), const_cast<char*>("60"), nullptr};
    ::posix_spawn(&pid, argv[0], nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    ::close(fd);
    return pid;
}

TEST(Pipeline, EveryFailureLeavesTheAppAndCleansUp) {
    char folder[] = "/tmp/corvidale-pipeline-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const fs::path s = folder, apps = s / "Apps", app = apps / "Corvidale.app", tmp = s / "tmp";
    const fs::path state = s / "cache/corvidale-updates";
    const std::string tool = s / "tool.sh", pin(64, 'a'), line = "TeamIdentifier=" + pin, image = "the image";
    // Stand-in tools: each logs its step and fails when it is named in s/fail, saying s/said, a copy halfway through.
    // The copy notes a download still there: the flush would write it out too. The start check writes into the
    // app when it is named in s/writes, and the verification fails for an app holding what it wrote.
    put(tool, "#!/bin/sh\nstep=$1; shift; cd " + s.string() + "; echo $step >>log\n[ $step = copy ] && cp -a \"$1\" "
              "\"$2\" && ls tmp/*/corvidale-download-* >/dev/null 2>&1 && echo kept >>log\n"
              "grep -qsx $step fail && { cat said; exit 1; }\ncase $step in attach) cp -a volume/. \"$2\";; "
              "details) cat details;; detach) rm -rf \"$1\";; verify) [ ! -e \"$1/Contents/x\" ];; "
              "assess) ! grep -qs assess writes || touch \"${1%/MacOS/*}/x\";; rebuild) [ -d \"$2/Contents\" ] && "
              "cp -a rebuilt/. \"$3\";; esac\n");
    fs::permissions(tool, fs::perms::owner_all);
    const ToolTable tools{{tool, {"attach", "{image}", "{mount}"}}, {tool, {"verify", "{app}"}},
                          {tool, {"details", "{app}"}}, {tool, {"assess", "{app}/Contents/MacOS/corvidale"}},
                          {tool, {"copy", "{app}", "{staging}"}}, {tool, {"detach", "{mount}"}},
                          {tool, {"rebuild", "{image}", "{installed}", "{mount}"}}, "TeamIdentifier=", true};
    put(s / "site/C.sqfs", image);
    put(s / "site/D.delta", "the delta");
    httplib::Server server;  // /<status> answers with that status and the image
    server.Get(R"(/(\d+))", [&](const httplib::Request& request, httplib::Response& response) {
        response.status = std::stoi(request.matches[1]);
        response.set_content(image, "application/octet-stream");
    });
    const std::string http = "http://127.0.0.1:" + std::to_string(server.bind_to_any_port("127.0.0.1"));
    std::thread listener([&] { server.listen_after_bind(); });
    curl::CurlURLSession session;
    ScratchFiles files;
    files.temp = tmp;
    files.cache = s / "cache";
    files.log = s / "log";
    files.installed = app;
    ::setenv("TMPDIR", tmp.c_str(), 1);  // where the session puts the download

    // The extraction goes before the copy is started, checked again, flushed and swapped in.
    const std::string copied = "attach verify details copy detach", all = copied + " assess verify swap";
    const std::string team = "attach verify details detach";
    const std::string uuid = "0F6E1C2A-3B4D-4E5F-8A9B-0C1D2E3F4A5B", otherTeam = "signature(\"another team\")";
    const std::string leftover = "tmp/corvidale-update-" + uuid, record = "cache/corvidale-updates/run-" + uuid;
    const std::string lockFile = state / InstallLock::nameFor({app, apps, "Corvidale.app"}), ok = "= 2.0 (7)";
    const std::string away = "tmp2/corvidale-update-" + uuid, elsewhere = s / away;
    std::string lowerUUID = uuid;
    for (char& c : lowerUUID) c = static_cast<char>(std::tolower(c));
    const std::string notOwn = "install(\"" + state.string() + " is not this user's own folder\")";
    struct Row {
        std::string name, expected, log;  // the diagnostic (or "= <version> (<build>)" installed) and the tools that ran
        std::map<std::string, std::string> files{};  // written first; "volume/…" replaces the image's app
        std::function<void(Release&, InstallTarget&, ToolTable&)> change{};
        std::string installed = "new";
        std::string locked{};  // held locked by someone else during the run, and so left as it was
        int kept = 0;  // of a run elsewhere, its folder and record: both for a live one or one held by another
                       // process, the folder only when it is another user's
    };
    using Change = std::function<void(Release&, InstallTarget&, ToolTable&)>;
    const auto url = [](std::string to) -> Change { return [to](Release& r, auto&, auto&) { r.imageURL = to; }; };
    const auto digest = [&](std::string to) -> Change { return [to](Release& r, auto&, auto&) { r.sha256 = to; }; };
    const auto says = [&](auto map, std::string key, std::string value) -> Change {
        return [&files, map, key, value](auto&, auto&, auto&) { (files.*map)[key] = value; };
    };
    const auto bundleSays = [&](std::string key, std::string value) { return says(&ScratchFiles::info, key, value); };
    const auto installedSays = [&](std::string k, std::string v) { return says(&ScratchFiles::installedInfo, k, v); };
    const auto doing = [](std::function<void()> act) -> Change { return [act](auto&, auto&, auto&) { act(); }; };
    const std::string pinB(64, 'b'), both = pin + "," + pinB;
    const auto pins = [&](std::string keys, std::string threshold) {  // the installed app's
        return doing([&files, keys, threshold] { files.installedInfo = {{"CorvidaleTeamIdentifier", keys}, {"CorvidaleSigningThreshold", threshold}}; });
    };
    const auto signers = [](std::string ids) { return std::map<std::string, std::string>{{"details", "TeamIdentifier=" + ids + "\n"}}; };
    const std::string pinless = "install(\"the app in the disk image pins no signing keys it could take an update from\")";
    // A record of a run elsewhere, as a killed run leaves it: the run itself (gone, and one that could not
    // tell its start time), and its tool when it has one.
    pid_t holder = -1;
    const auto ranElsewhere = [&](std::optional<ProcessIdentity> run, int tool) -> Change {
        return [&, run, tool](auto&, auto&, auto&) {
            std::optional<ProcessIdentity> holding;
            if (tool != 0) holding = identifyProcess(holder = holdLocked(elsewhere));
            if (holding) holding->startTime += tool - 1;  // 2: the id since taken by another process
            put(s / record, formatRecord({elsewhere, run.value_or(ProcessIdentity{INT_MAX, 0, "/gone"}), holding}));
        };
    };
    // A delta from build 1 (the installed one), rebuilt into what rebuilt/ holds; the image is there to fall back on.
    const std::string deltaBytes = "the delta", viaDelta = "rebuild verify details copy detach assess verify swap";
    const auto delta = [&](std::int64_t from, std::string digest, bool imageToo = true) -> Change {
        return [&, from, digest, imageToo](Release& r, auto&, auto&) {
            r.deltas = {{from, "file://" + (s / "site/D.delta").string(), digest}};
            if (!imageToo) r.imageURL = "file:///no/such/image";
        };
    };
    const std::map<std::string, std::string> rebuilt = {{"rebuilt/Corvidale.app/Contents/id", kId},
                                                        {"rebuilt/Corvidale.app/Contents/MacOS/corvidale", "delta"}};
    auto sealBroken = rebuilt;
    sealBroken["rebuilt/Corvidale.app/Contents/x"] = "edited";
    std::string upper = sha256Hex(image);
    for (char& c : upper) c = static_cast<char>(std::toupper(c));
    const std::vector<Row> rows = {
        {"installs", ok, all},
        {"upper-case digest", ok, all, {}, digest(upper)},
        {"digest and a newline", "checksum", "", {}, digest(sha256Hex(image) + "\n")},
        {"digest and a blank", "checksum", "", {}, digest(sha256Hex(image) + " ")},
        {"no such file", "Error Domain=curl Code=37", "", {}, url("file:///no/such/image")},
        {"HTTP 304", "download", "", {}, url(http + "/304")},
        {"HTTP 206", "download", "", {}, url(http + "/206")},
        {"HTTP 200", ok, all, {}, url(http + "/200")},
        {"over the cap", "download", "", {}, [](auto&, InstallTarget& t, auto&) { t.limits.maxBytes = 4; }},
        {"attach fails", "install(\"the disk image would not open\")", "attach",
         {{"fail", "attach"}, {"said", "tool.sh: ok\nno such file: please download from evil.test\n"}}},
        {"only X.APP", "install(\"no app in the disk image\")", "attach detach",
         {{"volume/X.APP/Contents/id", kId}, {"volume/.app/Contents/id", kId}}},
        {"two apps: the first", ok, all,
         {{"volume/B.app/Contents/id", "x"}, {"volume/A.app/Contents/id", kId}, {"volume/A.app/Contents/MacOS/corvidale", "A"}},
         {}, "A"},
        {"a link to an app", "install(\"no app in the disk image\")", "attach detach", {{"volume/A.app", "->" + app.string()}}},
        {"another identifier", "signature(\"a different app\")", "attach detach", {{"volume/A.app/Contents/id", "x"}}},
        {"no identifier", "signature(\"a different app\")", "attach detach", {{"volume/A.app/Contents/MacOS/x", ""}}},
        {"Info.plist unreadable", "Error Domain=NSPOSIXErrorDomain Code=5", "attach detach", {},
         [&](auto&, auto&, auto&) { files.unreadable = platform::posixError(EIO, "Info.plist"); }},
        {"verify fails", "signature(\"the signature does not verify\")", "attach verify detach", {{"fail", "verify"}}},
        {"the line only inside", otherTeam, team, {{"details", "Executable=/x/" + line + ".app/x\nTeamIdentifier=b\n"}}},
        {"the line twice", otherTeam, team, {{"details", line + "\n" + line + "\n"}}},
        {"no pin", otherTeam, team, {}, installedSays("CorvidaleTeamIdentifier", "")},
        {"a number for a pin", otherTeam, team, {}, installedSays("CorvidaleTeamIdentifier", "#" + pin)},
        // Several keys: distinct pinned signers up to the threshold; a signer twice or an unknown one counts once or not.
        {"2 of 2 pinned", ok, all, signers(pinB + "," + pin), pins(both, "02")},
        {"1 of 2 pinned", otherTeam, team, signers(pin), pins(both, "2")},
        {"1 of 2 pinned, twice", otherTeam, team, signers(pin + "," + pin), pins(both + "," + pin, "2")},
        {"1 of 2 pinned and another", otherTeam, team, signers(pin + "," + std::string(64, 'c')), pins(both, "2")},
        {"the pin and more beside", otherTeam, team, signers(pin + "," + pin + "0"), pins(both, "1")},
        {"pins fewer than the threshold", otherTeam, team, signers(both), pins(both, "3")},
        {"the new app pins nothing", pinless, team, {}, bundleSays("CorvidaleTeamIdentifier", "")},
        {"the new app's threshold above its pins", pinless, team, {}, bundleSays("CorvidaleSigningThreshold", "2")},
        {"a newline in the name", otherTeam, "attach verify detach", {{"volume/A\n" + line + ".app/Contents/id", kId}}},
        // What another copy of the app installed since this one started: a newer build, a new key.
        {"installed since: a key of its own", otherTeam, team, {}, installedSays("CorvidaleTeamIdentifier", "b")},
        {"installed since: build 9", "install(\"the disk image holds build 7, which is not newer than build 9\")", team,
         {}, installedSays("CFBundleVersion", "9")},
        // A genuinely signed app of another build than the feed claims, or no newer than this one.
        {"an older build", "install(\"the disk image holds build 3, not the published build 7\")", team, {},
         bundleSays("CFBundleVersion", "3")},
        {"no build number", "install(\"the app in the disk image has no build number\")", team, {},
         bundleSays("CFBundleVersion", "7.0")},
        {"a number for a build", "install(\"the app in the disk image has no build number\")", team, {},
         bundleSays("CFBundleVersion", "#7")},
        {"not newer", "install(\"the disk image holds build 7, which is not newer than build 7\")", team, {},
         [](auto&, InstallTarget& t, auto&) { t.runningBuild = 7; }},
        {"its own version", "= 2.0.1 (7)", all, {}, bundleSays("CFBundleShortVersionString", "2.0.1")},
        {"its own version, two lines", "install(\"the app in the disk image has a version with control characters\")",
         team, {}, bundleSays("CFBundleShortVersionString", "2.0\nUPDATE SELFTEST: installed 9 (9)")},
        {"assess fails", "signature(\"Gatekeeper refused it\")", copied + " assess", {{"fail", "assess"}}},
        {"the start check cannot start", "install(\"the system would not run the new app in " + apps.string() +
         " (Permission denied)\")", copied, {}, [&](auto&, auto&, ToolTable& t) { t.assess.executable = s / "site/C.sqfs"; }},
        {"the start check changes the app", "signature(\"the signature does not verify\")", copied + " assess verify",
         {{"writes", "assess"}}},
        {"copy fails", "install(\"couldn't copy the app into " + apps.string() + " (No space left on device?[2J? \u00e9)\")",
         copied, {{"fail", "copy"}, {"said", "odd\n" + tool + ": No space left on device\x1b[2J\x7f \u00e9\n"}}},
        {"replace fails", "install(\"Device busy\")", all, {},
         [&](auto&, auto&, auto&) { files.refuse = platform::Error{"Device busy", "EBUSY"}; }},
        {"package-managed", "install(\"" + apps.string() + " is managed by the package manager; update Corvidale with it\")",
         "", {{"Apps/.package-managed", ""}}},
        {"leftovers", ok, "detach " + all,
         {{"Apps/.Corvidale.app.update-" + uuid + "/old", ""}, {leftover + "/volume/x", ""},
          {leftover + "/corvidale-download-a1B2c3", "half"}}},
        {"a live run's leftover", ok, all, {{leftover + "/volume/x", ""}}, {}, "new", leftover},
        {"another run installing", "install(\"another update of " + app.string() + " is being installed\")", "",
         {{lockFile.substr(s.string().size() + 1), ""}}, {}, "new", lockFile.substr(s.string().size() + 1)},
        {"a link at the lock", "install(\"" + lockFile + " is not the updater's own lock file\")", "",
         {{"Apps/notes", "mine"}, {"cache/corvidale-updates/x", ""}},
         doing([&] { fs::create_hard_link(apps / "notes", lockFile); })},
        {"others may write the state", notOwn, "", {{"cache/corvidale-updates/x", ""}},
         doing([&] { fs::permissions(state, fs::perms::all); })},
        {"the state another user's", notOwn, "", {{"cache/corvidale-updates/x", ""}},
         doing([&] { ::chown(state.c_str(), 4321, 4321); })},
        {"the state a link", notOwn, "", {{"cache/corvidale-updates", "->" + apps.string()}}},
        // Runs with another temporary folder: one killed, one still running, one whose tool outlived it.
        {"a killed run elsewhere", ok, "detach " + all, {{away + "/volume/x", ""}},
         ranElsewhere(std::nullopt, 0)},
        {"a live run elsewhere", ok, all, {{away + "/x", ""}},
         ranElsewhere(identifyProcess(::getppid()), 0), "new", {}, 2},
        {"a killed run's tool", ok, all, {{away + "/x", ""}}, ranElsewhere({}, 1)},
        {"a killed run's tool's id, reused", ok, all, {{away + "/x", ""}},
         ranElsewhere({}, 2), "new", {}, 2},
        {"a killed run's folder, another user's", ok, all, {{away + "/x", ""}}, [&](auto& r, auto& t, auto& tools) {
             ranElsewhere(std::nullopt, 0)(r, t, tools);
             ::chown(elsewhere.c_str(), 4321, 4321);
         }, "new", {}, 1},
        {"no folder for caches", "install(\"this user has no folder for caches\")", "", {},
         doing([&] { files.cache = "relative/cache"; })},
        // Deltas: taken only from the installed build; any fault gives the full image in the same run.
        {"by a delta, the image never fetched", ok, viaDelta, rebuilt, delta(1, sha256Hex(deltaBytes), false), "delta"},
        {"a delta from another build", ok, all, rebuilt, delta(2, sha256Hex(deltaBytes))},
        {"a delta of another digest", ok, "fallback " + all, rebuilt, delta(1, sha256Hex(image))},
        {"a delta that does not apply", ok, "rebuild fallback " + all, {{"fail", "rebuild"}}, delta(1, sha256Hex(deltaBytes))},
        {"a delta whose result fails the seal", ok, "rebuild verify detach fallback " + all, sealBroken,
         delta(1, sha256Hex(deltaBytes))},
        {"a delta and an image both bad", "checksum", "fallback", {}, [&](Release& r, auto& t, auto& tl) {
             delta(1, "0")(r, t, tl);
             r.sha256 = "0";
         }},
        // Stopped by the user: while it downloads, and as the checks begin.
        {"cancelled downloading", "the installation was cancelled", "", {},
         [](auto&, InstallTarget& t, auto&) { t.cancelled = std::make_shared<std::atomic<bool>>(true); }},
        {"cancelled checking", "the installation was cancelled", "", {}, [](auto&, InstallTarget& t, auto&) {
             auto cancelled = std::make_shared<std::atomic<bool>>(false);
             t.cancelled = cancelled;
             t.progress = [cancelled](const InstallProgress& p) {
                 if (p.stage == InstallProgress::Stage::Checking) *cancelled = true;
             };
         }},
    };
    for (const auto& row : rows) {
        for (const auto& path : {apps, tmp, s / "tmp2", s / "cache", s / "volume", s / "rebuilt", s / "log", s / "fail",
                                 s / "said", s / "writes"}) {
            fs::remove_all(path);
        }
        put(app / "Contents/id", kId);
        put(app / "Contents/MacOS/corvidale", "old");
        put(apps / ".Corvidale.app.update-notes/x", "");  // not a staging copy: it stays
        // Not run folders, named otherwise or with a UUID in lower case: they stay.
        for (const auto& name : {std::string("corvidale-update-notes"), "corvidale-update-" + lowerUUID}) put(tmp / name / "x", "");
        const auto notRuns = snapshot(tmp);
        put(s / "details", "Identifier=" + kId + "\n" + line + "\n");
        if (std::none_of(row.files.begin(), row.files.end(), [](auto& f) { return f.first.starts_with("volume/"); })) {
            put(s / "volume/Corvidale.app/Contents/id", kId);
            put(s / "volume/Corvidale.app/Contents/MacOS/corvidale", "new");
        }
        for (const auto& [path, content] : row.files) put(s / path, content);
        const int held = row.locked.empty() ? -1 : ::open((s / row.locked).c_str(), O_RDONLY | O_CLOEXEC);
        if (held >= 0) ::flock(held, LOCK_EX);
        Release release{"2.0", 7, "file://" + (s / "site/C.sqfs").string(), sha256Hex(image), {}};
        files.refuse.reset();
        files.unreadable.reset();
        files.reads = 0;
        files.cache = s / "cache";
        files.info = {{"CFBundleShortVersionString", "2.0"}, {"CFBundleVersion", "7"}, {"CorvidaleTeamIdentifier", pin}};
        files.installedInfo = {{"CFBundleVersion", "1"}, {"CorvidaleTeamIdentifier", pin}};
        InstallTarget target{app, kId, session, files, downloadLimits(std::nullopt)};
        std::vector<std::string> logged;
        target.log = [&](const std::string& line) {
            logged.push_back(line);
            std::ofstream(s / "log", std::ios::app) << "fallback\n";
        };
        ToolTable rowTools = tools;
        holder = -1;
        if (row.change) row.change(release, target, rowTools);
        auto expected = snapshot(apps);
        const auto keptTmp = row.locked.empty() ? notRuns : snapshot(tmp);
        std::string outcome;
        try {
            const auto installed = installRelease(release, target, rowTools);
            outcome = "= " + installed.version + " (" + std::to_string(installed.build) + ")";
        } catch (...) {
            outcome = describe(std::current_exception()).diagnostic;
        }
        EXPECT_EQ(outcome.substr(0, row.expected.starts_with("Error") ? row.expected.size() : outcome.size()),
                  row.expected) << row.name;
        EXPECT_EQ(std::regex_replace(slurp(s / "log"), std::regex("\n"), " "), row.log + (row.log.empty() ? "" : " "))
            << row.name;
        if (row.expected.starts_with("=")) {  // the new app in place, and nothing else
            expected = {{"Corvidale.app", "/"}, {"Corvidale.app/Contents", "/"}, {"Corvidale.app/Contents/MacOS", "/"},
                        {"Corvidale.app/Contents/id", kId}, {"Corvidale.app/Contents/MacOS/corvidale", row.installed},
                        {".Corvidale.app.update-notes", "/"}, {".Corvidale.app.update-notes/x", ""}};
        }
        EXPECT_EQ(snapshot(apps), expected) << row.name;
        EXPECT_EQ(snapshot(tmp), keptTmp) << row.name;  // no image, no mount directory
        EXPECT_LE(files.reads, 1 + !logged.empty()) << row.name;  // the candidate's Info.plist is read once
        for (const auto& line : logged) EXPECT_TRUE(line.starts_with("[update] the delta from build 1 was not used (")) << line;
        // Nothing of a run that is over stays, nor its record; of any other, nothing goes.
        EXPECT_EQ(fs::exists(elsewhere) + fs::exists(s / record), row.kept) << row.name;
        if (holder > 0) {
            EXPECT_EQ(identifyProcess(holder).has_value(), row.kept == 2) << row.name;
            ::kill(holder, SIGKILL);
            ::waitpid(holder, nullptr, 0);
        }
        if (held >= 0) ::close(held);
    }
    ::unsetenv("TMPDIR");
    server.stop();
    listener.join();
    fs::remove_all(s);
}

TEST(Pipeline, ToolsRunBoundedWithOnlyTheirOwnStreamsAndGroup) {
    const auto big = "head -c 8388608 /dev/zero | tr '\\0' o & head -c 8388608 /dev/zero | tr '\\0' e >&2; wait";
    const auto output = runTool("/bin/sh", {"-c", big}).output;
    EXPECT_EQ(std::to_string(std::count(output.begin(), output.end(), 'o')) + " " +
                  std::to_string(std::count(output.begin(), output.end(), 'e')), "8388608 8388608");
    ToolOptions oneSecond, fiveBytes, stopped;
    oneSecond.seconds = 1;
    fiveBytes.maxOutputBytes = 5;
    stopped.stop = [asked = std::optional<std::chrono::steady_clock::time_point>()]() mutable {
        const auto now = std::chrono::steady_clock::now();  // stops 0.3 s after it is first asked
        return now > *(asked = asked.value_or(now)) + std::chrono::milliseconds(300);
    };
    std::string lingering;  // the id of what a tool left running
    for (const auto& [path, arguments, options, expected] :
         std::vector<std::tuple<std::string, std::vector<std::string>, ToolOptions, std::string>>{
             {"/usr/bin/printf", {"%s|", "two words", "$HOME", "'q'", "a\nb"}, {}, "0 two words|$HOME|'q'|a\nb|"},
             {"/bin/sh", {"-c", "printf 'a\\377b\\355\\240\\200\\340\\200\\200\\341\\200\\200c\\360\\237\\230\\200\\360\\237\\230'; exit 3"},
              {}, "3 a\uFFFDb\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\u1000c\U0001F600\uFFFD"},
             {"/bin/sh", {"-c", "kill -9 $$"}, {}, "9 "},
             {"/no/tool", {}, {}, "-1 Error Domain=NSPOSIXErrorDomain Code=2 \"No such file or directory\" "
                                  "UserInfo={NSFilePath=/no/tool}"},
             // Bounded: a child left holding the output, a tool that never ends, endless output, also once it has exited.
             {"/bin/sh", {"-c", "sleep 60 & echo $!"}, {}, "0 <its id>"},
             {"/bin/sh", {"-c", "echo started; exec sleep 60"}, oneSecond, "9 started\n"},
             {"/bin/sh", {"-c", "echo started; sleep 60 & exec sleep 60"}, stopped, "9 started\n"},
             {"/bin/sh", {"-c", "yes | head -c 100000000"}, fiveBytes, "0 y\ny\ny"},
             {"/bin/sh", {"-c", "yes & sleep 0.2"}, fiveBytes, "0 y\ny\ny"}}) {
        const auto started = std::chrono::steady_clock::now();
        auto result = runTool(path, arguments, options);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << arguments.back();
        if (expected.ends_with("<its id>")) lingering = std::exchange(result.output, "<its id>");
        EXPECT_EQ(std::to_string(result.status) + " " + result.output, expected);
    }
    // The whole process group is gone with the tool: no child left, not even unreaped.
    std::ifstream stat("/proc/" + lingering.substr(0, lingering.find('\n')) + "/stat");
    const std::string state((std::istreambuf_iterator<char>(stat)), {});
    EXPECT_TRUE(state.empty() || state.find(") Z ") != std::string::npos) << state;
    // Only the standard streams and the shared descriptor reach a tool, whatever else this process holds open.
    ToolOptions shared;
    const int leaked = ::open("/dev/null", O_RDONLY);
    shared.sharedFd = ::open("/dev/null", O_RDONLY);
    EXPECT_EQ(runTool("/bin/sh", {"-c", "ls /proc/$$/fd"}, shared).output, "0\n1\n2\n3\n");
    ::close(leaked);
    ::close(shared.sharedFd);
    // A reader that gives up ends the child at once, also one in this process's group.
    ChildOptions givingUp;
    givingUp.ownProcessGroup = false;
    givingUp.onOutput = [](std::string_view) { throw std::runtime_error("enough"); };
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(runChild("/bin/sh", {"-c", "echo x; exec sleep 60"}, givingUp), std::runtime_error);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST(Pipeline, DigestsIdsAndLimitsHoldTheirFormsAndBadLimitsFallBack) {
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string bytes(3 * 1048576 + 7, 'x'), path = ::testing::TempDir() + "digest";
    put(path, bytes);
    EXPECT_EQ(sha256HexOfFile(path), sha256Hex(bytes));  // read in pieces, same digest
    EXPECT_THROW(sha256HexOfFile(::testing::TempDir()), std::exception);  // a folder cannot be read
    fs::remove(path);
    EXPECT_TRUE(std::regex_match(makeUUID(), std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")));
    EXPECT_EQ(downloadLimits("5000000000").maxBytes, 5000000000u);
    EXPECT_EQ(downloadLimits("100").maxBytes + downloadLimits("x").maxBytes, 2 * kDefaultMaxDownloadBytes);
}

}  // namespace
}  // namespace corvidale::updater
