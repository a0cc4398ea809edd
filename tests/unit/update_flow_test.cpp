// The update controller: checks, the automatic schedule and installations, as
// the user and as the unattended self-test see them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>

#include "core/updater/failure.h"
#include "core/updater/interactive_update_reporter.h"
#include "core/updater/relaunch.h"
#include "core/updater/rollout.h"
#include "core/updater/update_controller.h"
#include "core/updater/update_self_test.h"
#include "fake.h"

namespace corvidale::updater {
namespace {

using testing::Fake;
using Lines = std::vector<std::string>;
constexpr int kFirst = platform::kAlertFirstButtonReturn;
const std::string kBox = " | [x] Update automatically when a new version is released";

// Stands in for the installation pipeline: succeeds, or throws what it is given.
struct ScriptedInstaller {
    InstalledApp installRelease(const Release& release, const InstallTarget& target) {
        installed.push_back(release.version + " " + target.bundlePath + " " + target.bundleIdentifier.value_or("-") +
                            " over " + std::to_string(target.runningBuild));
        thread = std::this_thread::get_id();
        for (const auto& progress : reports) target.progress(progress);
        ++reported;
        if (held.valid()) held.wait();
        if (target.cancelled && *target.cancelled) throw InstallCancelled();
        if (error) std::rethrow_exception(error);
        return bundleSays.value_or(InstalledApp{release.version, release.build});
    }
    Lines installed;
    std::thread::id thread;
    std::shared_future<void> held;  // when set, the installation waits for it
    std::exception_ptr error;
    std::optional<InstalledApp> bundleSays;  // the new bundle's own version, when not the feed's
    std::vector<InstallProgress> reports;      // told before it waits
    std::atomic<int> reported{0};
};

// A shell at 1.4.0 (0057) whose feed publishes 2.0 with `build`.
struct Updating {
    explicit Updating(const std::string& build = "57", bool selfTest = false) : selfTest(selfTest) {
        p.info["CFBundleShortVersionString"] = {platform::PlistValue::Kind::String, "1.4.0"};
        p.info["CFBundleVersion"] = {platform::PlistValue::Kind::String, "0057"};
        p.stored["updateFeed"] = "https://feed.test/linux.json";
        publish(build);
        board.setWindow(&window);
    }
    void publish(const std::string& build) {
        const std::string body = R"({"version": "2.0", "build": )" + build + R"(, "file": "C.dmg", "sha256": "ab", "notes": "Faster."})";
        p.urlResults["https://feed.test/linux.json"] = {std::nullopt, {true, 200, false, body, "", ""}};
    }
    long fetches() const {
        return std::count_if(p.calls.begin(), p.calls.end(), [](const auto& c) { return c.rfind("fetch ", 0) == 0; });
    }
    // The oldest open alert as one line: "message | informative | buttons | [x] checkbox".
    std::string alert() const {
        if (p.alerts.empty()) return "";
        const auto& [content, done, presentation] = p.alerts.front();
        std::string text = content.messageText + " | " + content.informativeText.value_or("") + " |";
        for (const auto& button : content.buttons) text += " " + button;
        if (content.checkbox) text += (content.checkbox->on ? " | [x] " : " | [ ] ") + content.checkbox->title;
        if (content.notes) text += " | What's new: " + *content.notes;
        return presentation == platform::Presentation::ApplicationModal ? text : text + " (sheet)";
    }
    int advanceUntilExit(double seconds) {
        return testing::exitStatus([&] { p.advance(seconds); });
    }
    void answer(platform::AlertResult result) {
        auto alert = std::move(p.alerts.front());
        p.alerts.pop_front();
        alert.done(result);
    }
    Fake p;
    const bool selfTest;
    testing::FakeWindow window{p.calls};
    ActivityBoard board{p, p};
    InteractiveUpdateReporter interactive{p, window, p, p, board};
    UpdateSelfTest unattended{p, window, p, p, board};
    std::shared_ptr<ScriptedInstaller> installer = std::make_shared<ScriptedInstaller>();
    UpdateController updates{p, selfTest ? unattended : interactive, selfTest,
                             [installer = installer](const Release& release, const InstallTarget& target) {
                                 return installer->installRelease(release, target);
                             }};
};

TEST(UpdateCheck, ThreeAlertsAllCarryTheCheckbox) {
    for (const auto& [build, expected] : std::vector<std::pair<std::string, std::string>>{
             {"", "Couldn't check for updates | not found | OK" + kBox},
             {"57", "Corvidale is up to date | You have the latest version, 1.4.0 (57). | OK" + kBox},
             {"58", "Corvidale 2.0 is available | You have 1.4.0 (57). The update is downloaded, checked and "
                    "installed; Corvidale then relaunches. | Update Now Later" + kBox + " | What's new: Faster."}}) {
        Updating shell(build);
        if (build.empty()) shell.p.urlResults.clear();  // the fetch fails
        shell.p.stored["autoUpdate"] = "YES";
        shell.updates.checkInteractively();
        EXPECT_EQ(shell.alert(), "");  // nothing shows while the fetch runs
        shell.p.advance(0);
        EXPECT_EQ(shell.alert(), expected);
        EXPECT_EQ(shell.p.calls.at(0), "fetch https://feed.test/linux.json policy 1 timeout 60 max 1048576");
    }
    Updating copy;  // another bundle identifier and no updateFeed: no feed, so never armed
    copy.p.bundleId = "com.example.copy";
    copy.p.stored = {{"autoUpdate", "YES"}};
    copy.updates.scheduleAutoUpdate();
    copy.p.advance(21605);
    EXPECT_EQ(copy.fetches(), 0);
}

TEST(UpdateCheck, CheckboxWritesAutoUpdateAndRearmsTheSchedule) {
    Updating shell("58");
    shell.updates.checkInteractively();
    shell.p.advance(0);
    EXPECT_NE(shell.alert().find("| [ ] Update automatically"), std::string::npos);
    shell.answer({kFirst + 1, "", true});  // "Later", box ticked
    EXPECT_EQ(shell.p.stored["autoUpdate"], "YES");
    EXPECT_EQ(Lines(shell.p.calls.end() - 2, shell.p.calls.end()), (Lines{"after 5.00", "repeating 21600"}));
    shell.p.advance(5);  // the automatic check installs what was declined, without asking
    EXPECT_EQ(shell.installer->installed, Lines{"2.0 /Applications/Corvidale.app com.corvidale.desktop over 57"});
    EXPECT_EQ(shell.alert(),
              "Corvidale was updated to 2.0 | Relaunch to start using it. | Relaunch Now Later | What's new: Faster.");
    shell.answer({kFirst + 1, "", false});
    // "Later": the bundle still says 57, but 58 is installed; the same release
    // is not installed again, a newer one is.
    shell.p.advance(21600);
    shell.publish("59");
    shell.p.advance(21600);
    ASSERT_EQ(shell.installer->installed.size(), 2u);
    EXPECT_EQ(shell.installer->installed[1], "2.0 /Applications/Corvidale.app com.corvidale.desktop over 58");

    // Re-armed twice, then switched off within five seconds: no first check
    // of an earlier arming and no timer runs any more.
    shell.publish("57");
    for (const bool tick : {true, true, false}) {
        shell.updates.checkInteractively();
        shell.p.advance(0);
        shell.answer({kFirst, "", tick});
    }
    EXPECT_EQ(shell.p.stored["autoUpdate"], "NO");
    const long before = shell.fetches();
    shell.p.advance(3 * 21600);
    EXPECT_EQ(shell.fetches(), before);
}

TEST(UpdateCheck, AStagedRolloutHoldsBackOnlyTheAutomaticCheck) {
    const std::int64_t start = 1'800'000'000, hours72 = 72 * 3600;  // 2027-01-15T08:00:00Z
    const auto rollout = [](const std::string& fields) { return R"(58, "rollout": {)" + fields + "}"; };
    const std::string valid = rollout(R"("start": "2027-01-15T08:00:00Z", "hours": 72)");
    struct Row {
        std::string build, position;  // a position planted out of range is replaced, so the start still holds
        std::int64_t at;
        bool takes, logs = false;
    };
    std::vector<Row> rows{{valid, "0.1", start + hours72 / 10, true}, {valid, "0.1", start + hours72 / 10 - 1, false},
                          {valid, "0.9", start + hours72 / 10, false}, {valid, "0.1", start + hours72 / 2, true},
                          {valid, "0.9", start + hours72 / 2, false}, {valid, "0", start - 1, false},
                          {valid, "0.9", start + hours72, true}, {valid, "0.99999999999999999", start + hours72 * 9, true},
                          {rollout(R"("start": "2027-01-15T08:00:00Z", "hours": 1)"), "0.5", start + 1800, true},
                          {"58", "", 0, true}};  // no rollout: everybody at once, and no position is drawn
    for (const auto* planted : {"1.5", "-0.1", "nan", "0.1x", "1", "0.", ".5", "0.999999999999999999"}) {
        rows.push_back({valid, planted, start - 1, false});
    }
    const std::string from = R"("start": "2027-01-15T08:00:00Z")";
    for (const auto& bad : std::vector<std::string>{from + R"(, "hours": 0)", from + R"(, "hours": 721)", from + R"(, "hours": "72")", from,
                                  from + R"(, "hours": 72.5)", R"("start": 1, "hours": 72)",
                                  R"("start": "2027-01-15T08:00:00+01:00", "hours": 72)"}) {
        rows.push_back({rollout(bad), "0", start + hours72, false, true});
    }
    rows.push_back({R"(58, "rollout": [])", "0", start + hours72, false, true});
    for (const auto& row : rows) {
        for (const bool selfTest : {true, false}) {
            Updating shell(row.build, selfTest);
            if (!row.position.empty()) shell.p.stored["updateRolloutPosition"] = row.position;
            shell.p.wallClock = row.at - 5;
            if (selfTest) {
                shell.updates.scheduleAutoUpdate();
                EXPECT_EQ(shell.advanceUntilExit(5), row.takes ? 0 : 1) << row.build << " at " << row.position;
                EXPECT_EQ(shell.p.log.size(), row.logs ? 1u : 0u);
                const auto kept = shell.p.stored.find("updateRolloutPosition");
                EXPECT_EQ(kept == shell.p.stored.end() ? "" : kept->second.size() == 17 ? "drawn" : kept->second,
                          parseRolloutPosition(row.position) || row.position.empty() ? row.position : "drawn");
            } else {  // the user asked: always offered
                shell.updates.checkInteractively();
                shell.p.advance(0);
                EXPECT_EQ(shell.alert().substr(0, 26), "Corvidale 2.0 is available");
            }
        }
    }
    EXPECT_EQ(parseUTCTime("2024-02-29T23:59:60.25z"), 1709251199);
    EXPECT_EQ(parseUTCTime("1970-01-01t00:00:00+00:00"), 0);
    for (const auto* text : {"2023-02-29T00:00:00Z", "2027-01-15 08:00:00Z", "2027-01-15T08:00:00", "2027-01-15T24:00:00Z",
                             "2027-1-15T08:00:00Z", "2027-01-15T08:00:00.Z", "2027-01-15T08:60:00Z"}) EXPECT_FALSE(parseUTCTime(text)) << text;
}

const Release kRelease{"2.0", 58, "https://x/C.dmg", "ab", "Faster."};
const std::string kNotes = " | What's new: Faster.";
const std::string kChecksum = "The download didn't match the published checksum, so it was not installed.";

TEST(UpdateInstall, OneAtATimeEachOutcomeShownAsItsPathWants) {
    const auto checksum = std::make_exception_ptr(Failure::checksum());
    const auto transport = std::make_exception_ptr(TransportError({"Lost.", "Domain=x Code=5 \"%s %n\""}));
    struct Row {
        bool automatic;
        std::exception_ptr error;
        std::string alert{}, log{};
    };
    for (const auto& row : std::vector<Row>{
             {false, nullptr, "Corvidale 2.0.1 is installed | Relaunch to start using it. | Relaunch Now Later" + kNotes},
             {true, nullptr, "Corvidale was updated to 2.0.1 | Relaunch to start using it. | Relaunch Now Later" + kNotes},
             {false, checksum, "The update wasn't installed | " + kChecksum + " | OK"},
             {true, transport, "", "auto update failed: Domain=x Code=5 \"%s %n\""}}) {
        Updating shell;
        shell.p.stored["autoUpdate"] = "YES";
        shell.updates.scheduleAutoUpdate();
        shell.installer->error = row.error;
        shell.installer->bundleSays = InstalledApp{"2.0.1", 58};  // what is shown, never the feed's "2.0"
        std::promise<void> finish;
        shell.installer->held = finish.get_future().share();
        shell.p.workerThreads = true;
        shell.updates.installUpdate(kRelease, row.automatic);
        shell.updates.installUpdate(kRelease, !row.automatic);  // while one runs, a second request is ignored
        shell.p.calls.clear();
        shell.p.advance(5);  // and the automatic check is skipped
        EXPECT_EQ(shell.fetches(), 0);
        EXPECT_EQ(shell.window.currentTitle, "Corvidale — updating to 2.0\u2026");
        finish.set_value();
        shell.p.joinWorkers();
        shell.p.workerThreads = false;
        EXPECT_NE(shell.installer->thread, std::this_thread::get_id()) << "never on the main thread";
        EXPECT_EQ(shell.alert(), "") << "the outcome comes back through the main queue";
        shell.p.advance(0);
        EXPECT_EQ(shell.installer->installed.size(), 1u);
        EXPECT_EQ(shell.window.currentTitle, "Corvidale");
        EXPECT_EQ(shell.alert(), row.alert);
        EXPECT_EQ(shell.p.log, row.log.empty() ? Lines{} : Lines{row.log});
        if (row.alert.empty()) continue;
        shell.p.calls.clear();
        shell.answer({kFirst, "", false});  // "Relaunch Now" or "OK"
        const std::string relaunch = "startDetached /bin/sh [-c] [" +
                                     relaunchCommand("/Applications/Corvidale.app", kThisSystem, ::getpid()) + "]";
        EXPECT_EQ(shell.p.calls, row.error ? Lines{} : (Lines{relaunch, "terminate"}));
        // Once it has ended, the next one runs; after a success, a request for
        // the same build (an offer answered late) only says it is installed.
        shell.updates.installUpdate(kRelease, false);
        EXPECT_EQ(shell.installer->installed.size(), row.error ? 2u : 1u);
        if (!row.error) {
            EXPECT_EQ(shell.alert(), "Corvidale 2.0.1 is installed | Relaunch to start using it. | Relaunch Now Later" + kNotes);
        }
    }
}

TEST(UpdateInstall, TheUsersOwnMovesInTheStripAndItsCancelChangesNothingAutomaticOnesOnlyOnTheLauncher) {
    using Stage = InstallProgress::Stage;
    for (const bool automatic : {false, true}) {
        Updating shell;
        shell.installer->reports = {{Stage::Downloading, 412000000, 1000000000}, {Stage::Checking, 0, std::nullopt}};
        std::promise<void> finish;
        shell.installer->held = finish.get_future().share();
        shell.p.workerThreads = true;
        shell.updates.installUpdate(kRelease, automatic);
        while (shell.installer->reported == 0) std::this_thread::yield();
        shell.p.advance(0.3);
        EXPECT_EQ(shell.p.launcher.back(), 0.412);
        if (automatic) {
            EXPECT_TRUE(shell.window.rows.empty()) << "an automatic installation shows on the launcher only";
            finish.set_value();
            shell.p.joinWorkers();
            shell.p.advance(0);
            EXPECT_EQ(shell.p.launcher.back(), std::nullopt);
            continue;
        }
        ASSERT_EQ(shell.window.rows.size(), 1u);
        EXPECT_EQ(shell.window.rows[0].text, "Checking\u2026");
        EXPECT_EQ(shell.window.rows[0].fraction, std::nullopt) << "the checks have no measure";
        EXPECT_EQ(shell.window.currentTitle, "Corvidale — updating to 2.0\u2026");
        shell.window.cancel(shell.window.rows[0].id);
        finish.set_value();
        shell.p.joinWorkers();
        shell.p.workerThreads = false;
        shell.p.advance(0);
        EXPECT_TRUE(shell.window.rows.empty());
        EXPECT_EQ(shell.window.currentTitle, "Corvidale");
        EXPECT_EQ(shell.alert(), "") << "the user's own cancel is no failure";
        EXPECT_EQ(shell.p.log, Lines{"update cancelled by the user"});
        shell.installer->reports = {{Stage::Downloading, 5, std::nullopt}, {Stage::Installing, 0, std::nullopt}};
        shell.installer->held = {};
        shell.updates.installUpdate(kRelease, false);  // a later one installs
        EXPECT_EQ(shell.installer->installed.size(), 2u);
        shell.p.advance(0);
        EXPECT_EQ(shell.alert(), "Corvidale 2.0 is installed | Relaunch to start using it. | Relaunch Now Later" + kNotes);
        EXPECT_TRUE(shell.window.rows.empty()) << "the strip goes before the outcome shows";
    }
}

TEST(UpdateSelfTest, EndsWithItsLineFiveSecondsAfterLaunch) {
    struct Row {
        std::string build;  // published; empty: the feed is unreachable
        std::exception_ptr error;
        std::string out;
        int exit;
    };
    for (const auto& row : std::vector<Row>{
             {"57", nullptr, "UPDATE SELFTEST: nothing newer than 57", 1},
             {"", nullptr, "UPDATE SELFTEST: nothing newer than 57", 1},
             {"58", nullptr, "UPDATE SELFTEST: installed 2.0 (58) at /Applications/Corvidale.app", 0},
             {"58", std::make_exception_ptr(Failure::checksum()), "UPDATE SELFTEST: failed — " + kChecksum, 1}}) {
        Updating shell(row.build, /*selfTest=*/true);  // autoUpdate is off
        if (row.build.empty()) shell.p.urlResults.clear();
        shell.installer->error = row.error;
        shell.updates.scheduleAutoUpdate();
        EXPECT_EQ(shell.advanceUntilExit(4.9), -1);
        EXPECT_EQ(shell.advanceUntilExit(0.1), row.exit);
        EXPECT_EQ(shell.p.out, Lines{row.out});
        EXPECT_TRUE(shell.p.alerts.empty() && shell.p.log.empty());
    }
    // An installation the user asked for ends the run too.
    Updating manual("57", true);
    manual.updates.installUpdate(kRelease, false);
    EXPECT_EQ(manual.advanceUntilExit(0), 0);
}

}  // namespace
}  // namespace corvidale::updater
