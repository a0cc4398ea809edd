// The window's page: what stays in it, what goes to the browser, what the page
// may ask of the desktop, its theme, and the shell's own page.
#include <gtest/gtest.h>

#include "core/web/navigation_policy.h"
#include "core/web/page_dialogs.h"
#include "core/web/reach_controller.h"
#include "core/web/shell_page_controller.h"
#include "core/web/user_agent.h"
#include "fake.h"

namespace corvidale {
namespace {

using namespace platform;
using testing::Fake;
using testing::FakeWebView;
using Strings = std::vector<std::string>;

// The page of https://app.example.com:8443/home in the window.
struct Page : ::testing::Test {
    NavigationActionPolicy decide(const NavigationAction& action) {
        std::vector<NavigationActionPolicy> answers;
        navigation.decidePolicyForNavigationAction(
            action, Completion<NavigationActionPolicy>([&](auto policy) { answers.push_back(policy); },
                                                       NavigationActionPolicy::Allow));
        EXPECT_EQ(answers.size(), 1u);
        return answers.at(0);
    }
    Fake p;
    FakeWebView web{p, {}};
    RequestGate gate{p};
    PageConsole console{web, p};
    ShellPageController shellPage{web, p, p, "https://app.example.com:8443/home"};
    NavigationPolicy navigation{p, std::string("app.example.com"), gate, console, shellPage};
    PageDialogs dialogs{p, web, std::string("app.example.com"), gate, console};
};

class Navigation : public Page {};

TEST_F(Navigation, LinksStayForTheOriginHostAndSignInHostsOnly) {
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
        EXPECT_EQ(decide({c.type, c.url, c.download, std::nullopt}), c.policy) << c.url.value_or("no URL");
        EXPECT_EQ(p.opened, c.opened ? Strings{*c.url} : Strings{}) << c.url.value_or("no URL");
    }
}

TEST_F(Navigation, NewWindowsGoToTheBrowserWhenTheirSchemeIsSafe) {
    for (auto url : {"https://app.example.com:8443/popup", "https://accounts.google.com/", "mailto:a@b.c",
                     "file:///etc/passwd", "smb://server/share", "javascript:alert(1)", "https:///nohost"}) {
        EXPECT_FALSE(navigation.createWebViewForNavigationAction({NavigationType::Other, url, false, std::nullopt}));
    }
    EXPECT_FALSE(navigation.createWebViewForNavigationAction({NavigationType::Other, std::nullopt, false, {}}));
    EXPECT_EQ(p.opened, (Strings{"https://app.example.com:8443/popup", "https://accounts.google.com/", "mailto:a@b.c"}));
}

TEST_F(Navigation, OneWindowPerUserActionAFewAMinuteFromScriptsNoneForOtherSites) {
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
        web.scripts.clear();
        const NavigationAction action{c.link ? NavigationType::LinkActivated : NavigationType::Other, url, false,
                                      Initiator{c.gesture, c.frame}};
        if (c.link) {
            EXPECT_EQ(decide(action), NavigationActionPolicy::Cancel);
        } else {
            EXPECT_FALSE(navigation.createWebViewForNavigationAction(action));
        }
        EXPECT_EQ(p.opened, c.refusal.empty() ? Strings{url} : Strings{}) << url;
        const auto warning = "console.warn(\"Corvidale did not open " + url + ": " + c.refusal;
        EXPECT_EQ(web.scripts.size(), c.refusal.empty() ? 0u : 1u) << url;
        if (!c.refusal.empty() && !web.scripts.empty()) {
            EXPECT_TRUE(web.scripts[0].starts_with(warning)) << url;
        }
    }
    // A minute on, the scripts' places are free again.
    p.advance(60);
    p.opened.clear();
    navigation.createWebViewForNavigationAction({NavigationType::Other, "https://later.test/", false, Initiator{{}, own}});
    EXPECT_EQ(p.opened, Strings{"https://later.test/"});
}

TEST_F(Navigation, FramesOfOtherSitesStartNoDownloadsWithoutAUserAction) {
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
        web.scripts.clear();
        navigation.decidePolicyForNavigationResponse(
            {true, c.disposition, true, "https://ads.example/f.zip", c.mainFrame, c.initiator},
            Completion<NavigationResponsePolicy>([&](auto policy) { EXPECT_EQ(policy, c.policy); }, Cancel));
        EXPECT_EQ(web.scripts, c.policy == Cancel ? Strings{"console.warn(\"Corvidale did not download "
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

class PageDialogsTest : public Page {};

TEST_F(PageDialogsTest, EveryRequestIsAnsweredOnceWhateverEndedTheSheet) {
    Strings answers;
    auto answer = [&](int response, std::string text = "") {
        auto alert = std::move(p.alerts.front());
        p.alerts.pop_front();
        alert.done({response, text, false});
    };
    dialogs.runJavaScriptAlertPanel("Saved!", Completion<>([&] { answers.push_back("alert"); }));
    EXPECT_TRUE(answers.empty()) << "returns while the sheet is up";
    answer(kModalResponseAbort);  // the window closed under it
    for (int response : {kAlertFirstButtonReturn, kAlertFirstButtonReturn + 1, kModalResponseAbort}) {
        dialogs.runJavaScriptConfirmPanel("Delete?", Completion<bool>([&](bool ok) {
            answers.push_back(ok ? "true" : "false");
        }, false));
        EXPECT_EQ(p.alerts.at(0).content.buttons, (Strings{"OK", "Cancel"}));
        answer(response);
    }
    for (auto [response, text] : {std::pair{kAlertFirstButtonReturn, "Grace"}, {kModalResponseAbort, "Ada"}}) {
        dialogs.runJavaScriptTextInputPanel("Name?", "Ada", Completion<std::optional<std::string>>([&](auto typed) {
            answers.push_back(typed.value_or("null"));
        }, std::nullopt));
        answer(response, text);
    }
    dialogs.runJavaScriptConfirmPanel("Dropped", Completion<bool>([&](bool ok) { answers.push_back(ok ? "T" : "F"); }, true));
    p.alerts.clear();  // the sheet went away unanswered: the fallback
    dialogs.runOpenPanel({true, false}, Completion<std::optional<Strings>>([&](auto files) {
        answers.push_back(files ? "files" : "no files");
    }, Strings{}));
    EXPECT_TRUE(p.panels.at(0).parameters.allowsDirectories && !p.panels[0].parameters.allowsMultipleSelection);
    p.panels[0].done(kModalResponseCancel, {"/tmp/a.txt"});
    EXPECT_EQ(answers, (Strings{"alert", "true", "false", "false", "Grace", "null", "T", "no files"}));
}

TEST_F(PageDialogsTest, PrintingTakesAUserActionEachAndAFloodIsToldWhyTwentyTimesAMinute) {
    Strings printed;
    for (auto gesture : {std::optional<std::uint64_t>{}, std::optional<std::uint64_t>{7}, std::optional<std::uint64_t>{7},
                         std::optional<std::uint64_t>{8}}) {
        printed.push_back(dialogs.printFrame({gesture, std::nullopt}) ? "printed" : "refused");
    }
    EXPECT_EQ(printed, (Strings{"refused", "printed", "refused", "printed"}));
    EXPECT_EQ(web.scripts, (Strings(2, "console.warn(\"Corvidale did not print: that takes a click or key press of its own.\")")));
    for (int i = 0; i < 30; ++i) dialogs.printFrame({std::nullopt, std::nullopt});
    EXPECT_EQ(web.scripts.size(), 20u);
    p.advance(60);
    dialogs.printFrame({std::nullopt, std::nullopt});
    EXPECT_EQ(web.scripts.size(), 21u);
}

class PageProcess : public Page {};

TEST_F(PageProcess, ADeadPageReloadsOnceThenTheShellsOwnPageOffersAReloadOnlyItCanAsk) {
    const std::string page = "https://app.example.com:8443/home/inbox";
    web.currentUrl = page;
    shellPage.webContentProcessDidTerminate();
    p.advance(31);
    shellPage.webContentProcessDidTerminate();
    EXPECT_EQ(p.calls, (Strings{"after 30.0", "reload", "after 30.0", "reload"})) << "deaths far apart: each reloads";
    p.calls.clear();
    p.advance(10);
    shellPage.webContentProcessDidTerminate();
    EXPECT_EQ(p.calls, (Strings{"after 30.0", "html "}));
    const std::string html = web.shownHTML;
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
        const auto answer = decide({NavigationType::LinkActivated, url, false, std::nullopt});
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
    shellPage.webContentProcessDidTerminate();
    EXPECT_NE(web.shownHTML.find("class=\"light\""), std::string::npos);
    p.calls.clear();
    shellPage.reload();
    EXPECT_EQ(p.calls, Strings{"load " + page});
    const auto escaped = shellPageHTML({"<b>&", "\"quoted\" <script>x</script>", "Try"}, Appearance::Dark, "x:\"y");
    EXPECT_NE(escaped.find("<h1>&lt;b&gt;&amp;</h1><p>&quot;quoted&quot; &lt;script&gt;x&lt;/script&gt;</p>"
                           "<a href=\"x:&quot;y\" autofocus>Try</a>"),
              std::string::npos);
}

TEST(Reach, WhichFailuresMeanTheServerIsOutOfReachAndHowTheScreenSaysIt) {
    using R = ReachProblem;
    const std::vector<std::tuple<std::string, long, std::optional<R>>> cases = {
        {"NSURLErrorDomain", -1009, R::NoNetwork},       {"NSURLErrorDomain", -1003, R::NameNotFound},
        {"NSURLErrorDomain", -1004, R::Refused},         {"NSURLErrorDomain", -1005, R::ConnectionLost},
        {"NSURLErrorDomain", -1001, R::TimedOut},        {"NSURLErrorDomain", -1200, R::Insecure},
        {"NSURLErrorDomain", -1202, R::Insecure},        {"NSURLErrorDomain", -1206, R::Insecure},
        {"NSURLErrorDomain", -999, std::nullopt},        {"NSURLErrorDomain", -1207, std::nullopt},
        {"NSURLErrorDomain", -1100, std::nullopt},       {"WebKitErrorDomain", 102, std::nullopt},
        {"g-io-error-quark", 39, R::Refused},            {"g-io-error-quark", 44, R::ConnectionLost},
        {"g-io-error-quark", 24, R::TimedOut},           {"g-io-error-quark", 38, R::NoNetwork},
        {"g-io-error-quark", 19, std::nullopt},          {"g-resolver-error-quark", 0, R::NameNotFound},
        {"g-resolver-error-quark", 2, std::nullopt},     {"g-tls-error-quark", 2, R::Insecure},
        {"WebKitNetworkError", 302, std::nullopt},       {"WebKitPolicyError", 102, std::nullopt},
    };
    for (const auto& [domain, code, problem] : cases) EXPECT_EQ(reachProblemOf(domain, code), problem) << domain << code;
    const auto page = unreachablePage("app.example.com", R::Refused);
    EXPECT_EQ(page.heading + " | " + page.message + " | " + page.buttonTitle,
              "Corvidale can't reach app.example.com | Its server isn't accepting connections right now. "
              "Corvidale tries again by itself. | Try Again");
}

class Unreachable : public Page {};

TEST_F(Unreachable, TheOriginShowsTheShellsScreenInItsPlaceAndTriesAgainUntilItShows) {
    ReachController reach{web, p, p, shellPage, std::string("app.example.com")};
    const std::string inbox = "https://app.example.com:8443/inbox";
    EXPECT_FALSE(reach.didFailNavigation({inbox, "NSURLErrorDomain", -999, ""})) << "cancelled";
    EXPECT_FALSE(reach.didFailNavigation({"https://accounts.google.com/", "g-io-error-quark", 39, ""})) << "not ours";
    EXPECT_TRUE(p.calls.empty());

    ASSERT_TRUE(reach.didFailNavigation({inbox, "g-tls-error-quark", 2, "(why)"}));
    EXPECT_EQ(p.err, Strings{"[reach] Corvidale can't reach app.example.com: Its server's identity couldn't be verified, "
                             "so the connection was stopped to keep your data safe. (why)"});
    EXPECT_EQ(p.calls, (Strings{"html in place of " + inbox, "after 2.00"}));
    const std::string& html = web.shownHTML;
    EXPECT_NE(html.find("<h1>Corvidale can&#39;t reach app.example.com</h1><p>Its server&#39;s identity"),
              std::string::npos);
    EXPECT_EQ(html.find("href="), html.rfind("href=")) << "one way on, the shell's own button, no way through";
    EXPECT_FALSE(reach.didFinishNavigation()) << "the screen's own load is no page of the application";
    std::vector<std::string> delays;
    for (int i = 0; i < 7; ++i) {  // each retry fails again, later each time
        p.calls.clear();
        p.advance(60);
        EXPECT_EQ(p.calls, Strings{"reload"}) << "the failed URL again, in the screen's place: " << web.url();
        reach.didFailNavigation({inbox, "g-io-error-quark", 39, ""});
        delays.push_back(p.calls.back());
    }
    EXPECT_EQ(delays, (Strings{"after 4.00", "after 8.00", "after 16.0", "after 32.0", "after 60.0", "after 60.0",
                               "after 60.0"}));
    EXPECT_EQ(p.err.size(), 1u) << "said once for the whole stretch";
    p.calls.clear();
    reach.networkChanged(false);
    EXPECT_TRUE(p.calls.empty());
    reach.networkChanged(true);
    EXPECT_EQ(p.calls, Strings{"reload"}) << "at once when the network is back";
    reach.didFailNavigation({inbox, "g-io-error-quark", 39, ""});
    p.calls.clear();
    const auto start = html.find("href=\"") + 6;
    decide({NavigationType::LinkActivated, html.substr(start, html.find('"', start) - start), false, std::nullopt});
    p.advance(0);
    EXPECT_EQ(p.calls, (Strings{"after 0.00", "reload"})) << "Try Again";
    reach.didFailNavigation({inbox, "g-io-error-quark", 39, ""});

    // Back from the screen to a page that shows: no retry is left over, the screen is forgotten, and the
    // back-off starts over.
    web.currentUrl = "https://app.example.com:8443/home";
    EXPECT_TRUE(reach.didFinishNavigation());
    p.calls.clear();
    p.advance(600);
    reach.networkChanged(true);
    EXPECT_TRUE(p.calls.empty());
    shellPage.webContentProcessDidTerminate();
    EXPECT_EQ(p.calls, (Strings{"after 30.0", "reload"})) << "a dead page is the application's, not the screen";
    reach.didFailNavigation({inbox, "NSURLErrorDomain", -1001, ""});
    EXPECT_EQ(p.calls.back(), "after 2.00");
}

TEST_F(Unreachable, WhereTheEngineCannotPutTheScreenInItsPlaceEveryRetryLoadsTheFailedURL) {
    web.alternateInPlace = false;
    ReachController reach{web, p, p, shellPage, std::string("app.example.com")};
    const std::string inbox = "https://app.example.com:8443/inbox";
    ASSERT_TRUE(reach.didFailNavigation({inbox, "g-io-error-quark", 39, ""}));
    EXPECT_EQ(p.calls, (Strings{"html ", "after 2.00"})) << "a document of its own";
    p.calls.clear();
    p.advance(2);
    EXPECT_EQ(p.calls, Strings{"load " + inbox}) << "a reload would reload the screen";
    p.calls.clear();
    reach.networkChanged(true);  // the screen is left, its retry under way
    EXPECT_EQ(p.calls, Strings{"load " + inbox});
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
        std::function<void(ScriptResult)> late;
        p.onTurn = [&] {
            if (!p.web || p.web->completions.empty()) return;
            EXPECT_EQ(p.web->scripts.at(0), "navigator.userAgent");
            EXPECT_TRUE(p.web->config.userScripts.empty()) << "the default configuration, not the shell's";
            late = p.web->completions.at(0);
            p.web->completions.clear();
            if (c.answer) late(*c.answer);
        };
        EXPECT_EQ(composeUserAgent(p, ""), c.base + " CorvidaleShell/linux-");
        EXPECT_EQ(p.web, nullptr) << "the probe is released";
        EXPECT_NEAR(p.now, c.answer ? 0.0 : 2.0, 0.05);
        if (late) late({"Too/Late", {}});  // harmless
    }
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
