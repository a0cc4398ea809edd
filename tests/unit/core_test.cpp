// The core's decisions against the fake platform, one table per rule.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/app/launch_config.h"
#include "core/downloads/destination.h"
#include "core/web/navigation_policy.h"
#include "core/web/user_agent.h"
#include "fake.h"

namespace corvidale {
namespace {

namespace fs = std::filesystem;
using namespace platform;
using testing::Exited;
using testing::Fake;
using testing::Shell;
using Kind = PlistValue::Kind;
using Strings = std::vector<std::string>;

TEST(LaunchConfiguration, PlistStringThenEnvironmentThenDefault) {
    struct Case {
        std::optional<PlistValue> info;
        std::optional<std::string> env, origin, stamp;  // expected; no origin: exits with 2
    };
    const Case cases[] = {
        {{}, {}, "https://app.corvidale.com", "dev"},
        {{}, "https://env.example:8443/p?q#f", "https://env.example:8443/p?q#f", "https://env.example:8443/p?q#f"},
        {PlistValue{Kind::String, "https://plist.example"}, "https://env.example", "https://plist.example",
         "https://plist.example"},
        {PlistValue{Kind::String, ""}, "https://env.example", "https://env.example", "https://env.example"},
        {PlistValue{Kind::Number, "https://n.example"}, {}, "https://app.corvidale.com", "dev"},
        {PlistValue{Kind::Boolean, "1"}, "https://env.example", "https://env.example", "https://env.example"},
        {PlistValue{Kind::Data, "x"}, "", std::nullopt, ""},
        {{}, "https://Host.Example:9/a b", std::nullopt, "https://Host.Example:9/a b"},
        {PlistValue{Kind::String, "http://plist.example"}, "https://env.example", std::nullopt, "http://plist.example"},
        // Schemes know no case: the small one is used, the rest kept as written.
        {{}, "HTTPS://Env.Example:9/P?Q", "https://Env.Example:9/P?Q", "HTTPS://Env.Example:9/P?Q"},
    };
    for (const auto& c : cases) {
        Fake p;
        for (auto key : {"CorvidaleOrigin", "CorvidaleBuild"}) {
            if (c.info) p.info[key] = *c.info;
        }
        if (c.env) p.env["CORVIDALE_ORIGIN"] = p.env["CORVIDALE_STAMP"] = *c.env;
        EXPECT_EQ(buildStamp(p), c.stamp);
        try {
            EXPECT_EQ(appOrigin(p).text(), c.origin);
        } catch (const Exited& exited) {
            EXPECT_FALSE(c.origin) << *c.origin;
            EXPECT_EQ(exited.status, 2);
            EXPECT_EQ(p.err, Strings{"CORVIDALE_ORIGIN must be an https URL: " + *c.stamp});
            EXPECT_TRUE(p.calls.empty()) << "no termination sequence";
        }
    }
}

TEST(LaunchConfiguration, ValidOriginsAreHttpsInAnyCaseWithAHost) {
    for (auto good : {"https://a.b", "https://a.b:8443/path?q#f", "https://127.0.0.1:1/", "https://[::1]:99/",
                      "HTTPS://A.B/", "Https://a.b"}) {
        EXPECT_TRUE(isValidOrigin(good)) << good;
    }
    for (auto bad : {"", "http://a.b", "HTTP://a.b", "HTTPSS://a.b", "ftp://a.b", "https:/path", "https:///path",
                     "https://a b.com", " https://a.b", "a.b", "https://", "mailto:x@a.b", "file:///etc/passwd"}) {
        EXPECT_FALSE(isValidOrigin(bad)) << bad;
    }
}

TEST(Startup, StepsInOrderAndAnInvalidOriginEndsItBeforeTheLoad) {
    Fake p;
    p.env["CORVIDALE_ORIGIN"] = "https://app.example:8443/start?x=1";
    p.env["CORVIDALE_STAMP"] = "57";
    Delegate delegate(p);
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(p.calls, (Strings{"appearance dark", "createWebView", "userAgent Engine/1.0 CorvidaleShell/linux-57",
                                "createWindow 1100x760 style 15", "title Corvidale", "minSize 420x480",
                                "autosave CorvidaleMain", "show", "setMainMenu", "load https://app.example:8443/start?x=1",
                                "activate"}));
    EXPECT_EQ(p.stored["lastAppTheme"], "dark");
    const auto& config = p.web->config;
    EXPECT_TRUE(config.persistentDefaultDataStore && config.javaScriptEnabled);
    ASSERT_EQ(config.scriptMessageHandlers.size(), 1u);
    EXPECT_EQ(config.scriptMessageHandlers[0].name, "corvidaleTheme");
    ASSERT_EQ(config.userScripts.size(), 1u);
    EXPECT_TRUE(config.userScripts[0].injectAtDocumentEnd && config.userScripts[0].forMainFrameOnly);
    EXPECT_EQ(p.web->loaded->timeoutSeconds, 60.0);
    EXPECT_TRUE(delegate.applicationShouldTerminateAfterLastWindowClosed());

    Fake light;
    light.stored["lastAppTheme"] = "light";
    light.stored["showUpdates"] = "YES";
    light.env["CORVIDALE_ORIGIN"] = "http://app.example/";
    Delegate refused(light);
    EXPECT_THROW(refused.applicationDidFinishLaunching(), Exited);
    EXPECT_EQ(light.calls.front(), "appearance light");
    EXPECT_EQ(light.calls.back(), "after 2.00") << "the update check is armed, nothing is loaded";
    EXPECT_EQ(light.err, (Strings{"[theme] window appearance → light",
                                  "CORVIDALE_ORIGIN must be an https URL: http://app.example/"}));
}

TEST(UserAgent, EngineAgentOrAThrowAwayViewAskedForAtMostTwoSeconds) {
    struct Case {
        std::optional<ScriptResult> answer;  // none: never answers
        std::string base;
    };
    for (const auto& c : {Case{ScriptResult{"Probe/1.0", {}}, "Probe/1.0"}, Case{ScriptResult{{}, {}}, ""},
                          Case{ScriptResult{{}, "boom"}, ""}, Case{{}, ""}}) {
        Fake p;
        p.engineAgent.reset();
        p.env["CORVIDALE_STAMP"] = "";
        std::function<void(ScriptResult)> late;
        p.onTurn = [&] {
            if (!p.web || p.web->completions.empty()) return;
            EXPECT_EQ(p.web->scripts.at(0), "navigator.userAgent");
            EXPECT_TRUE(p.web->config.userScripts.empty()) << "the default configuration, not the shell's";
            late = p.web->completions.at(0);
            p.web->completions.clear();
            if (c.answer) late(*c.answer);
        };
        EXPECT_EQ(composeUserAgent(p), c.base + " CorvidaleShell/linux-");
        EXPECT_EQ(p.web, nullptr) << "the probe is released";
        EXPECT_NEAR(p.now, c.answer ? 0.0 : 2.0, 0.05);
        if (late) late({"Too/Late", {}});  // harmless
    }
}

class Navigation : public Shell {};

TEST_F(Navigation, LinksStayForTheOriginHostAndSignInHostsOnly) {
    launch();
    struct Case {
        NavigationType type;
        std::optional<std::string> url;
        bool download;
        NavigationActionPolicy policy;
        bool opened;
    };
    using T = NavigationType;
    const auto L = T::LinkActivated;
    const auto Allow = NavigationActionPolicy::Allow, Cancel = NavigationActionPolicy::Cancel;
    std::vector<Case> cases = {
        {L, "https://app.example.com:8443/other", false, Allow, false},
        {L, "http://app.example.com/plain", false, Allow, false},
        {L, "https://app.example.com:9999/", false, Allow, false},
        {L, "https://sub.app.example.com/", false, Cancel, true},
        {L, "https://APP.EXAMPLE.COM/", false, Cancel, true},
        {L, "https://app.example.com.evil.test/", false, Cancel, true},
        {L, "https://mail.google.com/", false, Cancel, true},
        {L, "mailto:someone@example.com", false, Cancel, true},
        {L, "blob:https://app.example.com/1234", false, Allow, false},
        {L, "about:blank", false, Allow, false},
        // Hosts the engine reads and libcurl refuses are foreign, and not safe to hand out.
        {L, "https://evil$.test/", false, Cancel, false},
        {L, "https://foreign.test/#" + std::string(9 << 20, 'A'), false, Cancel, false},
        {L, std::nullopt, false, Allow, false},
        {L, "https://elsewhere.test/f.zip", true, NavigationActionPolicy::Download, false},
        {T::Other, "blob:https://app.example.com/x", true, NavigationActionPolicy::Download, false},
        {L, "smb://server/share", false, Cancel, false},
        {L, "custom-app://do/something", false, Cancel, false},
        {L, "ftp://files.example/", false, Cancel, false},
        {L, "file:///etc/passwd", false, Cancel, false},
    };
    for (auto type : {T::FormSubmitted, T::BackForward, T::Reload, T::FormResubmitted, T::Other}) {
        cases.push_back({type, "https://elsewhere.test/", false, Allow, false});
    }
    for (auto host : kSignInHosts) cases.push_back({L, "https://" + std::string(host) + "/in", false, Allow, false});
    for (const auto& c : cases) {
        p.opened.clear();
        int answers = 0;
        delegate.decidePolicyForNavigationAction({c.type, c.url, c.download, std::nullopt},
                                                 Completion<NavigationActionPolicy>([&](auto policy) {
                                                     EXPECT_EQ(policy, c.policy) << c.url.value_or("no URL");
                                                     ++answers;
                                                 }, NavigationActionPolicy::Allow));
        EXPECT_EQ(answers, 1);
        EXPECT_EQ(p.opened, c.opened ? Strings{*c.url} : Strings{}) << c.url.value_or("no URL");
    }
    // An origin written by hand matches hosts as the engine writes them.
    for (const auto& [origin, link] : {std::pair{"https://App.Example.COM/", "https://app.example.com/x"},
                                       std::pair{"https://b\u00FCcher.example/", "https://xn--bcher-kva.example/x"}}) {
        p.env["CORVIDALE_ORIGIN"] = origin;
        delegate.decidePolicyForNavigationAction({L, link, false, std::nullopt}, Completion<NavigationActionPolicy>([&](auto policy) {
                                                     EXPECT_EQ(policy, Allow) << origin;
                                                 }, Cancel));
    }
}

TEST_F(Navigation, NewWindowsGoToTheBrowserWhenTheirSchemeIsSafe) {
    launch();
    for (auto url : {"https://app.example.com:8443/popup", "https://accounts.google.com/", "mailto:a@b.c",
                     "file:///etc/passwd", "smb://server/share", "javascript:alert(1)", "https:///nohost"}) {
        EXPECT_FALSE(delegate.createWebViewForNavigationAction({NavigationType::Other, url, false, std::nullopt}));
    }
    EXPECT_FALSE(delegate.createWebViewForNavigationAction({NavigationType::Other, std::nullopt, false, std::nullopt}));
    EXPECT_EQ(p.opened, (Strings{"https://app.example.com:8443/popup", "https://accounts.google.com/", "mailto:a@b.c"}));
}

TEST_F(Navigation, OneWindowPerUserActionAFewAMinuteFromScriptsNoneForOtherSites) {
    launch();
    struct Case {
        bool link;  // a link followed away from the window; else a new window
        std::optional<std::uint64_t> gesture;
        std::optional<std::string> frame;
        std::string refusal;  // the console's reason; empty: opened
    };
    const std::string own = "app.example.com", other = "ads.example", tooMany = "more than 3 windows a minute";
    const Case cases[] = {
        {false, 1, own, ""},
        {false, 1, own, ""},  // the click is spent; the script's allowance is not
        {true, 1, own, ""},
        {false, std::nullopt, own, ""},
        {false, std::nullopt, own, tooMany},
        {true, std::nullopt, own, tooMany},
        {false, 2, other, ""},
        {false, 2, other, "a frame of another site"},
        {false, std::nullopt, other, "a frame of another site"},
        {true, std::nullopt, std::nullopt, "a frame of another site"},  // no referrer: nobody to trust
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string url = "https://elsewhere.test/" + std::to_string(n++);
        p.opened.clear();
        p.web->scripts.clear();
        const NavigationAction action{c.link ? NavigationType::LinkActivated : NavigationType::Other, url, false,
                                      Initiator{c.gesture, c.frame}};
        if (c.link) {
            delegate.decidePolicyForNavigationAction(action, Completion<NavigationActionPolicy>([](auto policy) {
                EXPECT_EQ(policy, NavigationActionPolicy::Cancel);
            }, NavigationActionPolicy::Allow));
        } else {
            EXPECT_FALSE(delegate.createWebViewForNavigationAction(action));
        }
        EXPECT_EQ(p.opened, c.refusal.empty() ? Strings{url} : Strings{}) << url;
        const auto warning = "console.warn(\"Corvidale did not open " + url + ": " + c.refusal;
        EXPECT_EQ(p.web->scripts.size(), c.refusal.empty() ? 0u : 1u) << url;
        if (!c.refusal.empty() && !p.web->scripts.empty()) {
            EXPECT_TRUE(p.web->scripts[0].starts_with(warning)) << p.web->scripts[0];
        }
    }
    // A minute on, the scripts' places are free again.
    p.advance(60);
    p.opened.clear();
    delegate.createWebViewForNavigationAction({NavigationType::Other, "https://later.test/", false, Initiator{{}, own}});
    EXPECT_EQ(p.opened, Strings{"https://later.test/"});
}

TEST_F(Navigation, PrintingTakesAUserActionEachAndFramesOfOtherSitesStartNoDownloads) {
    launch();
    Strings printed;
    for (auto gesture : {std::optional<std::uint64_t>{}, std::optional<std::uint64_t>{7}, std::optional<std::uint64_t>{7},
                         std::optional<std::uint64_t>{8}}) {
        printed.push_back(delegate.printFrame({gesture, std::nullopt}) ? "printed" : "refused");
    }
    EXPECT_EQ(printed, (Strings{"refused", "printed", "refused", "printed"}));
    EXPECT_EQ(p.web->scripts, (Strings(2, "console.warn(\"Corvidale did not print: that takes a click or key press of its own.\")")));
    for (int i = 0; i < 30; ++i) delegate.printFrame({std::nullopt, std::nullopt});
    EXPECT_EQ(p.web->scripts.size(), 20u) << "a flood is told why twenty times a minute";
    p.advance(60);
    struct Case {
        bool mainFrame;
        std::optional<Initiator> initiator;
        std::string disposition;
        NavigationResponsePolicy policy;
    };
    const auto Download = NavigationResponsePolicy::Download, Cancel = NavigationResponsePolicy::Cancel;
    const std::string own = "app.example.com", other = "ads.example";
    for (const auto& c : {Case{true, Initiator{{}, other}, "attachment", Download},  // the top document is the user's
                          Case{false, std::nullopt, "attachment", Download},          // the engine tells nothing
                          Case{false, Initiator{{}, own}, "attachment", Download},
                          Case{false, Initiator{3, other}, "attachment", Download},
                          Case{false, Initiator{{}, other}, "attachment", Cancel},
                          Case{false, Initiator{{}, std::nullopt}, "attachment", Cancel},
                          Case{false, Initiator{{}, other}, "inline", NavigationResponsePolicy::Allow}}) {
        p.web->scripts.clear();
        delegate.decidePolicyForNavigationResponse(
            {true, c.disposition, true, "https://ads.example/f.zip", c.mainFrame, c.initiator},
            Completion<NavigationResponsePolicy>([&](auto policy) { EXPECT_EQ(policy, c.policy); }, Cancel));
        EXPECT_EQ(p.web->scripts, c.policy == Cancel ? Strings{"console.warn(\"Corvidale did not download "
                                                               "https://ads.example/f.zip: a frame of another site asked "
                                                               "for it without a click or key press.\")"}
                                                     : Strings{});
    }
    // Whatever a URL holds, the console gets a string literal.
    EXPECT_EQ(javaScriptString(std::string("\")\n\xff</script>", 13)), "\"\\\")\\n\uFFFD</script>\"");
}

TEST(NavigationResponse, AttachmentsAndUnshowableTypesBecomeDownloads) {
    struct Case {
        bool http;
        std::optional<std::string> disposition;
        bool showable;
        NavigationResponsePolicy policy;
    };
    const auto Allow = NavigationResponsePolicy::Allow, Download = NavigationResponsePolicy::Download;
    for (const auto& c : {Case{true, {}, true, Allow}, Case{true, "inline", true, Allow},
                          Case{true, "inline; filename=\"attachment.pdf\"", true, Allow},
                          Case{true, "attachment", true, Download}, Case{true, "ATTACHMENT; filename=a.txt", true, Download},
                          Case{true, "AttachMent;filename*=UTF-8''x", true, Download},
                          Case{true, " attachment", true, Allow}, Case{true, "inline", false, Download},
                          Case{false, "attachment", true, Allow}, Case{false, {}, false, Download}}) {
        EXPECT_EQ(decideNavigationResponse({c.http, c.disposition, c.showable, {}, true, {}}), c.policy)
            << c.disposition.value_or("none") << " showable " << c.showable;
    }
}

class Theme : public Shell {};

TEST_F(Theme, OnlyTextFromTheOriginsMainFrameCountsAndOnlyRealSwitchesAreLogged) {
    launch();
    struct Case {
        std::string name;
        bool mainFrame;
        std::string host;
        std::optional<std::string> body;
        std::string stored;  // lastAppTheme afterwards
        std::optional<std::string> line;
    };
    const std::string ok = "corvidaleTheme", host = "app.example.com";
    for (const auto& c : {Case{ok, true, host, "dark", "dark", {}}, Case{ok, true, host, "light", "light", "light"},
                          Case{ok, true, host, "light", "light", {}}, Case{ok, false, host, "dark", "light", {}},
                          Case{ok, true, "other.example", "dark", "light", {}},
                          Case{ok, true, "sub.app.example.com", "dark", "light", {}},
                          Case{ok, true, "APP.EXAMPLE.COM", "dark", "light", {}}, Case{ok, true, host, {}, "light", {}},
                          Case{"other", true, host, "dark", "light", {}}, Case{ok, true, host, "Dark", "dark", "Dark"},
                          Case{ok, true, host, "Light", "dark", {}}, Case{ok, true, host, "light", "light", "light"},
                          Case{ok, true, host, "sepia", "dark", "sepia"}}) {
        p.err.clear();
        delegate.didReceiveScriptMessage({c.name, c.mainFrame, c.host, c.body});
        EXPECT_EQ(p.stored["lastAppTheme"], c.stored) << c.host << " " << c.body.value_or("(not text)");
        EXPECT_EQ(p.err, c.line ? Strings{"[theme] window appearance → " + *c.line} : Strings{});
        EXPECT_EQ(p.look, c.stored == "light" ? Appearance::Light : Appearance::Dark);
    }
}

class ViewCommands : public Shell {};

TEST_F(ViewCommands, ZoomStepsByATenthBetweenHalfAndThree) {
    launch();
    std::vector<double> seen;
    for (int i = 0; i < 7; ++i) {
        delegate.zoomOut();
        seen.push_back(p.web->zoom);
    }
    const std::vector<double> out = {0.9, 0.8, 0.7, 0.6, 0.5, 0.5, 0.5};
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(seen[i], out[i], 1e-9) << "step " << i + 1;
    EXPECT_EQ(seen[5], 0.5);
    EXPECT_TRUE(delegate.performMenuAction("zoomReset"));
    EXPECT_EQ(p.web->zoom, 1.0);
    for (int i = 0; i < 19; ++i) delegate.zoomIn();
    EXPECT_LT(p.web->zoom, 3.0);
    delegate.zoomIn();
    delegate.zoomIn();
    EXPECT_EQ(p.web->zoom, 3.0);
    EXPECT_TRUE(delegate.performMenuAction("reload"));
    EXPECT_EQ(p.calls, Strings{"reload"});
    EXPECT_FALSE(delegate.performMenuAction("copy:")) << "editing belongs to the platform";
}

class PageDialogs : public Shell {};

TEST_F(PageDialogs, AnswersFollowTheButtonThatEndedTheSheet) {
    launch();
    Strings answers;
    auto answer = [&](int response, std::string text = "") {
        p.alerts.front().done({response, text, false});
        p.alerts.pop_front();
    };
    delegate.runJavaScriptAlertPanel("Saved!", Completion<>([&] { answers.push_back("alert"); }));
    EXPECT_EQ(p.alerts.at(0).content.buttons, Strings{"OK"});
    EXPECT_TRUE(answers.empty()) << "returns while the sheet is up";
    answer(kModalResponseAbort);
    for (int response : {kAlertFirstButtonReturn, kAlertFirstButtonReturn + 1, kModalResponseAbort}) {
        delegate.runJavaScriptConfirmPanel("Delete?", Completion<bool>([&](bool ok) {
            answers.push_back(ok ? "true" : "false");
        }, false));
        EXPECT_EQ(p.alerts.at(0).content.messageText, "Delete?");
        EXPECT_EQ(p.alerts.at(0).content.buttons, (Strings{"OK", "Cancel"}));
        answer(response);
    }
    auto prompt = [&](std::optional<std::string> preset) {
        delegate.runJavaScriptTextInputPanel("Name?", preset, Completion<std::optional<std::string>>([&](auto text) {
            answers.push_back(text ? "\"" + *text + "\"" : "null");
        }, std::nullopt));
        EXPECT_EQ(p.alerts.at(0).content.textField->text, preset.value_or(""));
    };
    prompt(std::nullopt);
    answer(kAlertFirstButtonReturn, "");
    prompt("Ada");
    answer(kAlertFirstButtonReturn + 1, "Ada");
    prompt("Ada");
    answer(kAlertFirstButtonReturn, "Grace");
    delegate.runJavaScriptConfirmPanel("Dropped", Completion<bool>([&](bool ok) { answers.push_back(ok ? "T" : "F"); }, false));
    p.alerts.clear();  // the window went away with the sheet
    EXPECT_EQ(answers, (Strings{"alert", "true", "false", "false", "\"\"", "null", "\"Grace\"", "F"}));

    std::vector<std::optional<Strings>> chosen;
    for (auto [directories, multiple, response] : {std::tuple{false, true, kModalResponseOK},
                                                   std::tuple{true, false, kModalResponseCancel}}) {
        delegate.runOpenPanel({directories, multiple}, Completion<std::optional<Strings>>([&](auto files) {
            chosen.push_back(files);
        }, std::nullopt));
        EXPECT_EQ(p.panels.back().parameters.allowsDirectories, directories);
        EXPECT_EQ(p.panels.back().parameters.allowsMultipleSelection, multiple);
        p.panels.back().done(response, {"/tmp/b.txt", "/tmp/a.txt"});
    }
    EXPECT_EQ(chosen, (std::vector<std::optional<Strings>>{Strings{"/tmp/b.txt", "/tmp/a.txt"}, std::nullopt}));
}

TEST_F(PageDialogs, CameraAndMicrophoneAreForTheOriginsOwnPage) {
    launch();
    const std::vector<std::pair<std::string, PermissionDecision>> cases = {
        {"https://app.example.com/call", PermissionDecision::Grant},
        {"https://accounts.google.com/signin", PermissionDecision::Deny},
        {"https://evil.example/", PermissionDecision::Deny},
        {"", PermissionDecision::Deny}};
    for (const auto& [page, decision] : cases) {
        p.web->currentUrl = page;
        std::optional<PermissionDecision> answer;
        delegate.requestMediaCapturePermission("app.example.com", MediaCaptureType::CameraAndMicrophone,
                                               Completion<PermissionDecision>([&](auto d) { answer = d; },
                                                                              PermissionDecision::Prompt));
        EXPECT_EQ(answer, decision) << page;
    }
    EXPECT_TRUE(p.alerts.empty());
}

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
}

struct FakeDownload : Download {
    explicit FakeDownload(DownloadId id) : number(id) {}
    DownloadId id() const override { return number; }
    void setDelegate(DownloadDelegate* d) override { delegate = d; }
    std::optional<std::uint64_t> expectedLength() const override { return expected; }
    std::uint64_t receivedLength() const override { return received; }
    DownloadId number;
    std::optional<std::uint64_t> expected;
    std::uint64_t received = 0;
    DownloadDelegate* delegate = nullptr;
};

class Downloads : public Shell {
protected:
    std::string destination(FakeDownload& download, const std::string& name) {
        std::optional<std::string> answer;
        delegate.decideDestination(download, name, Completion<std::optional<std::string>>([&](auto path) {
            answer = path;
        }, std::nullopt));
        return answer.value_or("declined");
    }
    Folder folder;
};

TEST_F(Downloads, DestinationsFinishesAndFailures) {
    p.downloadsFolder = folder.path;
    launch();
    FakeDownload a(1), b(2), c(3), never(4), cut(5), nowhere(6);
    delegate.navigationResponseDidBecomeDownload(a);
    delegate.navigationActionDidBecomeDownload(b);
    EXPECT_TRUE(a.delegate == &delegate && b.delegate == &delegate);
    EXPECT_EQ(destination(a, "photo.jpg"), folder / "photo.jpg");
    fs::remove(folder / "photo.jpg");  // not yet created by the engine: still taken
    EXPECT_EQ(destination(b, "photo.jpg"), folder / "photo 2.jpg");
    EXPECT_EQ(destination(c, "half.bin"), folder / "half.bin");
    std::ofstream(folder / "half.bin") << "half";
    EXPECT_EQ(destination(cut, "cut.bin"), folder / "cut.bin");
    std::ofstream(folder / "cut.bin") << "cut";
    cut.expected = 400000, cut.received = 200000;
    EXPECT_EQ(delegate.downloads.size(), 4u);

    a.expected = a.received = 0;  // declared and written alike
    delegate.downloadDidFinish(a);
    delegate.downloadDidFinish(a);  // no entry any more: nothing
    delegate.downloadDidFinish(cut);  // the engine calls a cut-off transfer finished
    EXPECT_EQ(p.revealed, Strings{folder / "photo.jpg"});
    EXPECT_FALSE(fs::exists(folder / "cut.bin")) << "a cut-off file must not pass for a download";
    delegate.downloadDidFail(b, {"The network connection was lost.", "Error Domain=X Code=-1005"});
    delegate.downloadDidFail(c, {"Lost.", ""});
    delegate.downloadDidFail(never, {"Cancelled.", ""});
    EXPECT_TRUE(delegate.downloads.empty());
    EXPECT_FALSE(fs::exists(folder / "photo 2.jpg")) << "the empty placeholder goes";
    EXPECT_TRUE(fs::exists(folder / "half.bin")) << "a partial file is not ours to remove";
    Strings texts;
    for (const auto& alert : p.alerts) EXPECT_EQ(alert.content.messageText, "The download didn't finish");
    // A burst of downloads shows the folder once, with its first file; a pause ends the burst.
    for (DownloadId id = 20; id < 26; ++id) {
        FakeDownload each(id);
        destination(each, "batch.txt");
        delegate.downloadDidFinish(each);
        p.advance(id == 23 ? 3.5 : 1.0);
    }
    EXPECT_EQ(p.revealed, (Strings{folder / "photo.jpg", folder / "batch 5.txt"}));
    p.downloadsFolder.reset();
    EXPECT_EQ(destination(nowhere, "x.txt"), "declined");
    delegate.downloadDidFail(nowhere, {"User cancelled the download", ""});  // what the engine says next
    for (const auto& alert : p.alerts) texts.push_back(*alert.content.informativeText);
    EXPECT_EQ(texts, (Strings{"cut.bin could not be saved: The connection closed after 200000 of 400000 bytes.",
                              "photo 2.jpg could not be saved: The network connection was lost.",
                              "half.bin could not be saved: Lost.", "The file could not be saved: Cancelled.",
                              "x.txt could not be saved: The Downloads folder is unavailable."}));
}

TEST_F(Downloads, SelfTestStartsOnceAndReportsEachOutcome) {
    p.downloadsFolder = folder.path;
    launch();
    delegate.didFinishNavigation();
    EXPECT_TRUE(p.web->scripts.empty()) << "switched off";
    p.stored["downloadSelfTest"] = "YES";
    delegate.didFinishNavigation();
    delegate.didFinishNavigation();
    ASSERT_EQ(p.web->scripts, Strings{"const a=document.createElement('a');a.href=URL.createObjectURL(new Blob(['saved "
                                      "by the Mac shell'],{type:'text/plain'}));a.download='corvidale-download-selftest"
                                      ".txt';document.body.appendChild(a);a.click();"});
    auto exitOf = [&](auto action) {
        p.out.clear();
        try {
            action();
        } catch (const Exited& exited) {
            return exited.status;
        }
        return -1;
    };
    p.web->completions[0]({{}, {}});
    EXPECT_TRUE(p.out.empty()) << "a result that is no error changes nothing";
    EXPECT_EQ(exitOf([&] { p.web->completions[0]({{}, "TypeError: null"}); }), 1);
    EXPECT_EQ(p.out, Strings{"DOWNLOAD SELFTEST: failed — TypeError: null"});
    for (auto [content, shown, status] : {std::tuple{"saved by the Mac shell", "saved by the Mac shell", 0},
                                          std::tuple{"saved by the Mac shell\n", "saved by the Mac shell\n", 1},
                                          std::tuple{"\xff\xfe broken", "<unreadable>", 1}}) {
        FakeDownload download(9);
        const auto path = destination(download, "corvidale-download-selftest.txt");
        std::ofstream(path) << content;
        EXPECT_EQ(exitOf([&] { delegate.downloadDidFinish(download); }), status);
        EXPECT_EQ(p.out, Strings{"DOWNLOAD SELFTEST: saved " + path + " — \"" + shown + "\""});
        EXPECT_FALSE(fs::exists(path));
        EXPECT_TRUE(delegate.downloads.empty());
    }
    FakeDownload failed(10);
    destination(failed, "x.txt");
    EXPECT_EQ(exitOf([&] { delegate.downloadDidFail(failed, {"lost", "Error Domain=X Code=1 \"lost\""}); }), 1);
    EXPECT_EQ(p.out, Strings{"DOWNLOAD SELFTEST: failed — Error Domain=X Code=1 \"lost\""});
    EXPECT_TRUE(p.alerts.empty() && p.revealed.empty() && delegate.downloads.empty());
    p.advance(14.9);
    EXPECT_EQ(exitOf([&] { p.advance(0.2); }), 1);
    EXPECT_EQ(p.out, Strings{"DOWNLOAD SELFTEST: nothing arrived in 15 s"});
}

class PageProcess : public Shell {};

TEST_F(PageProcess, ADeadPageReloadsOnceThenTheShellsOwnPageOffersAReloadOnlyItCanAsk) {
    launch();
    const std::string page = "https://app.example.com:8443/home/inbox";
    p.web->currentUrl = page;
    delegate.webContentProcessDidTerminate();
    p.advance(31);
    delegate.webContentProcessDidTerminate();
    EXPECT_EQ(p.calls, (Strings{"after 30.0", "reload", "after 30.0", "reload"})) << "deaths far apart: each reloads";
    p.calls.clear();
    p.advance(10);
    delegate.webContentProcessDidTerminate();
    EXPECT_EQ(p.calls, (Strings{"after 30.0", "html "}));
    const std::string html = p.web->shownHTML;
    const auto start = html.find("href=\"") + 6;
    const std::string action = html.substr(start, html.find('"', start) - start);
    EXPECT_TRUE(action.starts_with("corvidale-shell://action/") && action.size() >= 57) << action;
    for (auto part : {"<h1>Corvidale</h1>", "<p>The page stopped unexpectedly, twice in a short time.</p>", ">Reload</a>",
                      "default-src 'none'", "class=\"dark\""}) {
        EXPECT_NE(html.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(html.find("<script"), std::string::npos);

    auto follow = [&](const std::string& url) {
        p.calls.clear();
        auto answer = NavigationActionPolicy::Allow;
        delegate.decidePolicyForNavigationAction({NavigationType::LinkActivated, url, false, std::nullopt},
                                                 Completion<NavigationActionPolicy>([&](auto a) { answer = a; },
                                                                                    NavigationActionPolicy::Allow));
        p.advance(0);
        return answer;
    };
    EXPECT_EQ(follow("corvidale-shell://action/00000000000000000000000000000000"), NavigationActionPolicy::Cancel);
    EXPECT_TRUE(p.calls.empty() && p.opened.empty()) << "a guess does nothing";
    EXPECT_EQ(follow(action), NavigationActionPolicy::Cancel);
    EXPECT_EQ(p.calls, (Strings{"after 0.00", "load " + page}));
    follow(action);
    EXPECT_TRUE(p.calls.empty() && p.opened.empty()) << "it works once";

    // Again soon after: the page again, light now; Reload leaves it too.
    p.look = Appearance::Light;
    delegate.webContentProcessDidTerminate();
    EXPECT_NE(p.web->shownHTML.find("class=\"light\""), std::string::npos);
    p.calls.clear();
    delegate.reload();
    EXPECT_EQ(p.calls, Strings{"load " + page});
    delegate.showShellPage({"<b>&", "\"quoted\" <script>x</script>", "Try"}, page);
    EXPECT_NE(p.web->shownHTML.find("<h1>&lt;b&gt;&amp;</h1><p>&quot;quoted&quot; &lt;script&gt;x&lt;/script&gt;</p>"),
              std::string::npos);
}

TEST(Completion, RunsOnceAndFallsBackWhenDropped) {
    std::vector<int> seen;
    {
        Completion<int> completion([&](int v) { seen.push_back(v); }, -1);
        auto copy = completion;
        copy(1);
        completion(2);
        Completion<int> forgotten([&](int v) { seen.push_back(v); }, -1);
    }
    EXPECT_EQ(seen, (std::vector<int>{1, -1}));
}

}  // namespace
}  // namespace corvidale
