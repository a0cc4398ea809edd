// The window's page: what stays in it, what goes to the browser, what the page
// may ask of the desktop, its theme, and the shell's own page.
#include <gtest/gtest.h>

#include "core/web/navigation_policy.h"
#include "core/web/page_dialogs.h"
#include "core/web/reach_controller.h"
#include "core/web/shell_page_controller.h"
#include "core/web/theme_bridge.h"
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
    const AppOrigin origin = *AppOrigin::parse("https://app.example.com:8443/home");
    RequestGate gate{p, origin};
    PageConsole console{web, p};
    ShellPageController shellPage{web, p, p, "https://app.example.com:8443/home"};
    NavigationPolicy navigation{p, origin, gate, console, shellPage};
    PageDialogs dialogs{p, web, origin, gate, console};
};

// Frames as the engine names them: the application's (top or not), the same
// host on another port, another site, a sandboxed one (an opaque origin).
const FrameInfo ownTop{true, {"https", "app.example.com", 8443}}, ownFrame{false, {"https", "app.example.com", 8443}},
    otherPort{false, {"https", "app.example.com", 9999}}, otherSite{false, {"https", "ads.example", 0}},
    otherTop{true, {"https", "accounts.google.com", 0}}, sandboxed{false, {}};

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
        {L, "https://APP.EXAMPLE.COM/", false, Allow, false},  // hosts compared as the engine writes them
        {L, "https://app.example.com.evil.test/", false, Cancel, true},
        {L, "https://mail.google.com/", false, Cancel, true},
        {L, "https://accounts.google.com/signin", false, Allow, false},  // signing in with Google or Apple stays
        {L, "https://appleid.apple.com/auth", false, Allow, false},
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

TEST_F(Navigation, EachUserActionAllowsOneThingOfItsFrameAndScriptsOnlyTheApplicationsOwn) {
    struct Case {
        std::string kind;  // "link", "window", "download" (a navigation that became one), "print"
        std::optional<std::uint64_t> gesture;
        std::optional<FrameInfo> frame;  // nullopt: the engine did not say
        std::string refusal;             // the console's reason; empty: done
        bool knowsGestures = true;
    };
    const std::string foreign = "a frame of another site asked for it without a click or key press in it",
                      unknown = "it could not tell which frame asked", tooMany = "more than 3 windows a minute",
                      ownAction = "that takes a click or key press of its own";
    const Case cases[] = {
        {"window", 1, ownTop, ""},
        {"window", 1, ownTop, ""},  // the click is spent; the script's allowance is not
        {"download", 1, otherSite, foreign},  // spent, whatever asks next
        {"print", 1, ownTop, ownAction},
        {"link", std::nullopt, ownFrame, ""},
        {"window", std::nullopt, ownTop, ""},
        {"window", std::nullopt, ownTop, tooMany},
        {"download", std::nullopt, ownTop, ""},   // the application's own need no click
        {"download", std::nullopt, ownFrame, ""},
        {"download", std::nullopt, otherTop, ""},  // the top document is one the user went to
        {"window", 2, otherSite, ""},
        {"window", 2, otherSite, foreign},
        {"download", 3, otherSite, ""},
        {"download", 3, otherSite, foreign},
        {"print", 4, otherSite, ""},
        {"print", 4, otherSite, ownAction},
        {"download", std::nullopt, otherPort, foreign},  // the same host on another port is another site
        {"window", std::nullopt, otherPort, foreign},
        {"download", std::nullopt, sandboxed, foreign},
        {"link", std::nullopt, std::nullopt, unknown},
        {"download", std::nullopt, std::nullopt, unknown},
        {"download", 2, std::nullopt, unknown},  // an old click is no click
        // WKWebView names frames but not clicks: the pages the user sees go by the engine's rules.
        {"window", std::nullopt, ownFrame, "", false},
        {"link", std::nullopt, otherTop, "", false},
        {"window", std::nullopt, otherSite, foreign, false},
        {"download", std::nullopt, otherSite, foreign, false},
        {"print", std::nullopt, otherSite, "", false},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string url = "https://elsewhere.test/" + std::to_string(n++);
        p.opened.clear();
        web.scripts.clear();
        const Initiator initiator{c.gesture, c.frame, c.knowsGestures};
        const NavigationAction action{c.kind == "link" ? NavigationType::LinkActivated : NavigationType::Other, url,
                                      false, initiator};
        bool done = false;
        if (c.kind == "link") {
            EXPECT_EQ(decide(action), NavigationActionPolicy::Cancel);
            done = p.opened == Strings{url};
        } else if (c.kind == "window") {
            EXPECT_FALSE(navigation.createWebViewForNavigationAction(action));
            done = p.opened == Strings{url};
        } else if (c.kind == "download") {
            done = navigation.mayDownload(action);
        } else {
            done = dialogs.printFrame(initiator);
        }
        EXPECT_EQ(done, c.refusal.empty()) << url << " " << c.kind;
        ASSERT_EQ(web.scripts.size(), c.refusal.empty() ? 0u : 1u) << url;
        if (!c.refusal.empty()) {
            EXPECT_NE(web.scripts[0].find(c.refusal), std::string::npos) << web.scripts[0];
        }
    }
    // A minute on, the scripts' places are free again.
    p.advance(60);
    p.opened.clear();
    navigation.createWebViewForNavigationAction({NavigationType::Other, "https://later.test/", false, Initiator{{}, ownTop}});
    EXPECT_EQ(p.opened, Strings{"https://later.test/"});
    EXPECT_FALSE(dialogs.printFrame({std::nullopt, ownTop})) << "nothing prints without a click";
}

TEST_F(Navigation, AResponseAnswersForWhoeverAskedForItsNavigationNotForItsReferer) {
    struct Case {
        std::optional<Initiator> asked;  // the navigation's, as decided; nullopt: never decided
        bool mainFrame;
        std::string disposition;
        NavigationResponsePolicy policy;
    };
    const auto Download = NavigationResponsePolicy::Download, Cancel = NavigationResponsePolicy::Cancel;
    const std::vector<Case> cases = {
        {Initiator{{}, otherSite}, true, "attachment", Download},  // the top document is the user's
        {Initiator{{}, ownTop}, false, "attachment", Download},    // the application's own hidden frame
        {Initiator{{}, otherSite}, false, "attachment", Cancel},
        {Initiator{5, otherSite}, false, "attachment", Download},
        {Initiator{5, otherSite}, false, "attachment", Cancel},  // one click, one file
        {Initiator{{}, std::nullopt}, false, "attachment", Cancel},  // a history traversal names no frame
        {std::nullopt, false, "attachment", Cancel},              // no navigation this policy let through
        {Initiator{{}, otherSite}, false, "inline", NavigationResponsePolicy::Allow},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string url = "https://ads.example/f" + std::to_string(n++) + ".zip";
        if (c.asked) decide({NavigationType::BackForward, url + "#part", false, c.asked});
        decide({NavigationType::Other, "https://ads.example/unrelated", false, Initiator{{}, ownTop}});
        web.scripts.clear();
        std::optional<NavigationResponsePolicy> answer;
        navigation.decidePolicyForNavigationResponse(
            {true, c.disposition, true, url, c.mainFrame},
            Completion<NavigationResponsePolicy>([&](auto policy) { answer = policy; }, Cancel));
        EXPECT_EQ(answer, c.policy) << url;
        EXPECT_EQ(web.scripts.size(), c.policy == Cancel ? 1u : 0u) << url;
        if (c.policy == Cancel && !web.scripts.empty()) {
            EXPECT_TRUE(web.scripts[0].starts_with("console.warn(\"Corvidale did not download " + url + ": ")) << url;
        }
    }
    // Only what went ahead is remembered: a flood of refused links keeps what the application's frame asked for.
    const std::string kept = "https://ads.example/kept.zip";
    decide({NavigationType::Other, kept, false, Initiator{{}, ownTop}});
    for (int i = 0; i < 100; ++i) decide({NavigationType::LinkActivated, "https://evil.test/" + std::to_string(i), false, {}});
    navigation.decidePolicyForNavigationResponse({true, "attachment", true, kept, false}, Completion<NavigationResponsePolicy>(
        [&](auto policy) { EXPECT_EQ(policy, Download); }, Cancel));
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
        EXPECT_EQ(decideNavigationResponse({c.http, c.disposition, c.showable, {}, true}), c.policy)
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
    dialogs.runJavaScriptAlertPanel("Saved!", ownTop, Completion<>([&] { answers.push_back("alert"); }));
    EXPECT_TRUE(answers.empty()) << "returns while the sheet is up";
    answer(kModalResponseAbort);  // the window closed under it
    for (int response : {kAlertFirstButtonReturn, kAlertFirstButtonReturn + 1, kModalResponseAbort}) {
        dialogs.runJavaScriptConfirmPanel("Delete?", ownFrame, Completion<bool>([&](bool ok) {
            answers.push_back(ok ? "true" : "false");
        }, false));
        EXPECT_EQ(p.alerts.at(0).content.buttons, (Strings{"OK", "Cancel"}));
        answer(response);
    }
    for (auto [response, text] : {std::pair{kAlertFirstButtonReturn, "Grace"}, {kModalResponseAbort, "Ada"}}) {
        dialogs.runJavaScriptTextInputPanel("Name?", "Ada", otherTop, Completion<std::optional<std::string>>([&](auto typed) {
            answers.push_back(typed.value_or("null"));
        }, std::nullopt));
        answer(response, text);
    }
    dialogs.runJavaScriptConfirmPanel("Dropped", ownTop, Completion<bool>([&](bool ok) { answers.push_back(ok ? "T" : "F"); }, true));
    p.alerts.clear();  // the sheet went away unanswered: the fallback
    dialogs.runOpenPanel({true, false}, Completion<std::optional<Strings>>([&](auto files) {
        answers.push_back(files ? "files" : "no files");
    }, Strings{}));
    EXPECT_TRUE(p.panels.at(0).parameters.allowsDirectories && !p.panels[0].parameters.allowsMultipleSelection);
    p.panels[0].done(kModalResponseCancel, {"/tmp/a.txt"});
    EXPECT_EQ(answers, (Strings{"alert", "true", "false", "false", "Grace", "null", "T", "no files"}));
}

TEST_F(PageDialogsTest, OnlyTheTopPageAndTheApplicationsFramesSpeakAndNoneTitlesItsOwnWindow) {
    struct Case {
        std::optional<FrameInfo> frame;
        std::string title;  // empty: refused, answered at once as if dismissed
        std::string console;
    };
    const Case cases[] = {
        {ownTop, "app.example.com:8443 says", ""},
        {ownFrame, "app.example.com:8443 says", ""},
        {otherTop, "accounts.google.com says", ""},
        {otherSite, "", "Corvidale did not show the prompt https://ads.example asked for: only the top page and the "
                        "application's own frames may show one."},
        {otherPort, "", "Corvidale did not show the prompt https://app.example.com:9999 asked for"},
        {sandboxed, "", "Corvidale did not show the prompt null asked for"},
        {std::nullopt, "", "Corvidale did not show the prompt a frame asked for: it could not tell which frame that was."},
    };
    // Outlives the sheets: one dropped unanswered answers with its fallback.
    Strings answers;
    for (const auto& c : cases) {
        web.scripts.clear();
        p.alerts.clear();
        answers.clear();
        const std::string text = "Your session expired. Enter your password";
        dialogs.runJavaScriptAlertPanel(text, c.frame, Completion<>([&] { answers.push_back("alert"); }));
        dialogs.runJavaScriptConfirmPanel(text, c.frame, Completion<bool>([&](bool ok) {
            answers.push_back(ok ? "true" : "false");
        }, true));
        dialogs.runJavaScriptTextInputPanel(text, "x", c.frame, Completion<std::optional<std::string>>([&](auto typed) {
            answers.push_back(typed.value_or("null"));
        }, "fallback"));
        if (c.title.empty()) {
            EXPECT_EQ(answers, (Strings{"alert", "false", "null"})) << c.console;
            EXPECT_TRUE(p.alerts.empty());
            EXPECT_EQ(web.scripts.size(), 3u);  // no ASSERT: its return would drop sheets that answer into `answers`
            if (web.scripts.size() == 3u) {
                EXPECT_NE(web.scripts[2].find(c.console), std::string::npos) << web.scripts[2];
            }
            continue;
        }
        EXPECT_EQ(p.alerts.size(), 3u) << c.title;
        for (const auto& alert : p.alerts) {
            EXPECT_EQ(alert.content.messageText, text);
            EXPECT_EQ(alert.content.windowTitle, c.title);
        }
        EXPECT_TRUE(answers.empty() && web.scripts.empty());
    }
    p.alerts.clear();
}

TEST_F(PageDialogsTest, AFloodOfRefusalsIsToldWhyTwentyTimesAMinute) {
    for (int i = 0; i < 30; ++i) dialogs.printFrame({std::nullopt, ownTop});
    EXPECT_EQ(web.scripts.size(), 20u);
    EXPECT_EQ(web.scripts[0], "console.warn(\"Corvidale did not print: that takes a click or key press of its own.\")");
    p.advance(60);
    dialogs.printFrame({std::nullopt, ownTop});
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
    // Easy to get wrong: a handshake cut off is a lost connection, not an insecure one; cancelled loads are no outage.
    const std::vector<std::tuple<std::string, long, std::optional<R>>> cases = {
        {"NSURLErrorDomain", -1009, R::NoNetwork},       {"NSURLErrorDomain", -1005, R::ConnectionLost},
        {"NSURLErrorDomain", -1202, R::Insecure},        {"NSURLErrorDomain", -999, std::nullopt},
        {"WebKitErrorDomain", 102, std::nullopt},        {"g-io-error-quark", 44, R::ConnectionLost},
        {"g-io-error-quark", 38, R::NoNetwork},          {"g-io-error-quark", 19, std::nullopt},
        {"g-resolver-error-quark", 0, R::NameNotFound},  {"g-tls-error-quark", 2, R::Insecure},
        {"g-tls-error-quark", 6, R::ConnectionLost},     {"WebKitNetworkError", 302, std::nullopt},
        {"WebKitPolicyError", 102, std::nullopt},
    };
    for (const auto& [domain, code, problem] : cases) EXPECT_EQ(reachProblemOf(domain, code), problem) << domain << code;
    const auto page = unreachablePage("app.example.com", R::Refused);
    EXPECT_EQ(page.heading + " | " + page.message + " | " + page.buttonTitle,
              "Corvidale can't reach app.example.com | Its server isn't accepting connections right now. "
              "Corvidale tries again by itself. | Try Again");
}

struct Unreachable : Page {
    ReachController reach{web, p, p, shellPage, origin};
    const std::string inbox = "https://app.example.com:8443/inbox";
};

TEST_F(Unreachable, TheOriginShowsTheShellsScreenInItsPlaceAndTriesAgainUntilItShows) {
    EXPECT_FALSE(reach.didFailNavigation({inbox, "NSURLErrorDomain", -999, ""})) << "cancelled";
    for (auto other : {"https://accounts.google.com/", "https://app.example.com:1/", "http://app.example.com:8443/"}) {
        EXPECT_FALSE(reach.didFailNavigation({other, "g-io-error-quark", 39, ""})) << "not the origin: " << other;
    }
    EXPECT_TRUE(p.calls.empty() && p.err.empty());

    ASSERT_TRUE(reach.didFailNavigation({inbox, "g-tls-error-quark", 2, "(why)"}));
    EXPECT_EQ(p.err, Strings{"[reach] Corvidale can't reach app.example.com: Its server's identity couldn't be verified, "
                             "so the connection was stopped to keep your data safe. (why)"});
    EXPECT_EQ(p.calls, (Strings{"html in place of " + inbox, "after 2.00", "after 2.00"}));
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
        delays.push_back(p.calls.at(p.calls.size() - 2));
    }
    EXPECT_EQ(delays, (Strings{"after 4.00", "after 8.00", "after 16.0", "after 32.0", "after 60.0", "after 60.0",
                               "after 60.0"}));
    EXPECT_EQ(p.err.size(), 1u) << "said once for the whole stretch";
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
    reach.networkChanged(false);
    reach.networkChanged(true);
    EXPECT_TRUE(p.calls.empty());
    shellPage.webContentProcessDidTerminate();
    EXPECT_EQ(p.calls, (Strings{"after 30.0", "reload"})) << "a dead page is the application's, not the screen";
    reach.didFailNavigation({inbox, "NSURLErrorDomain", -1001, ""});
    p.advance(2);
    reach.didFailNavigation({inbox, "NSURLErrorDomain", -1001, ""});

    // The network back: only a change from none is news, and it tries at once, but never sooner after the
    // last try than the wait before it.
    p.calls.clear();
    p.advance(1);
    reach.networkChanged(false);
    reach.networkChanged(true);
    EXPECT_TRUE(p.calls.empty()) << "a second after the last try, which waited two";
    p.advance(1);
    EXPECT_EQ(p.calls, Strings{"reload"});
    reach.didFailNavigation({inbox, "NSURLErrorDomain", -1001, ""});
    p.calls.clear();
    p.advance(4);
    for (int i = 0; i < 60; ++i) reach.networkChanged(true);
    EXPECT_TRUE(p.calls.empty()) << "a monitor that reports every route it sees tells nothing new";
    reach.networkChanged(false);
    reach.networkChanged(true);
    p.advance(10);
    EXPECT_EQ(p.calls, Strings{"reload"}) << "at once, and once: whichever of the network and the back-off comes first";
    reach.didFailNavigation({inbox, "NSURLErrorDomain", -1001, ""});
    p.advance(1);
    reach.didFailNavigation({inbox, "NSURLErrorDomain", -1001, ""});  // Try Again, before that wait was up
    p.calls.clear();
    p.advance(8);
    reach.networkChanged(false);
    reach.networkChanged(true);
    EXPECT_TRUE(p.calls.empty()) << "each failure waits its own time";
}

TEST(Theme, OnlyTheOriginsTopDocumentSetsItAndAFloodWritesTheDefaultsOnceASecond) {
    Fake p;
    const auto origin = *AppOrigin::parse("https://app.example.com:8443/home");
    FakeWebView web{p, {}};
    ThemeBridge theme{p, p, p, p, origin, web};
    const SecurityOrigin own{"https", "app.example.com", 8443};
    const auto send = [&](bool mainFrame, const SecurityOrigin& from, std::optional<std::string> body) {
        theme.didReceiveScriptMessage({std::string(kThemeHandlerName), mainFrame, from, std::move(body)});
        return p.look;
    };
    EXPECT_EQ(send(true, {"https", "app.example.com", 9443}, "light"), std::nullopt);
    EXPECT_EQ(send(true, {"http", "app.example.com", 8443}, "light"), std::nullopt);
    EXPECT_EQ(send(true, {"https", "foreign.test", 8443}, "light"), std::nullopt);
    EXPECT_EQ(send(false, own, "light"), std::nullopt);
    EXPECT_EQ(send(true, own, std::nullopt), std::nullopt);
    EXPECT_EQ(p.defaultsWrites, 0);
    EXPECT_EQ(send(true, own, "light"), Appearance::Light);
    for (int i = 0; i < 5000; ++i) send(true, own, i % 2 ? "light" : "Dark");
    EXPECT_EQ(p.defaultsWrites, 1);
    EXPECT_EQ(p.err.size(), 5001u) << "every flip shows";
    p.advance(1);
    EXPECT_EQ(p.defaultsWrites, 2) << "the last theme, at the end of the second";
    EXPECT_EQ(p.stored["lastAppTheme"], "light");
    p.advance(5);
    send(true, own, "dark");
    EXPECT_EQ(p.defaultsWrites, 3) << "at once after a quiet second";
}

TEST_F(Unreachable, WhereTheEngineCannotPutTheScreenInItsPlaceEveryRetryLoadsTheFailedURL) {
    web.alternateInPlace = false;
    ASSERT_TRUE(reach.didFailNavigation({inbox, "g-io-error-quark", 39, ""}));
    EXPECT_EQ(p.calls.at(0), "html ") << "a document of its own";
    shellPage.pageDidFinishLoading();  // the screen, shown as a page of its own
    p.calls.clear();
    p.advance(2);
    EXPECT_EQ(p.calls, Strings{"load " + inbox}) << "a reload would reload the screen";
    ASSERT_TRUE(reach.didFailNavigation({inbox, "g-io-error-quark", 39, ""}));
    shellPage.pageDidFinishLoading();
    reach.networkChanged(false);
    p.advance(2);
    p.calls.clear();
    reach.networkChanged(true);  // the network's return, ahead of the back-off
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
            EXPECT_TRUE(p.web->userScripts.empty()) << "the default configuration, not the shell's";
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
