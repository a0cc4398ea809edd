// The page's notifications: who may show them, what reaches the desktop, and
// what a click does.
#include <gtest/gtest.h>

#include "core/web/notification_controller.h"
#include "fake.h"

namespace corvidale {
namespace {

using namespace platform;
using testing::Fake;
using testing::FakeWebView;
using Strings = std::vector<std::string>;

constexpr const char* kOrigin = "https://app.example.com:8443";

struct Notifications : ::testing::Test {
    NotificationController& make(bool bridged = false) {
        controller.emplace(p, p, p, p, Url::parse(std::string(kOrigin) + "/home"), bridged);
        controller->configure(configuration);
        controller->attach(web, console);
        web.currentUrl = std::string(kOrigin) + "/inbox";
        return *controller;
    }
    bool ask(bool fromMainFrame) {
        std::optional<bool> answer;
        controller->requestPermission(fromMainFrame, Completion<bool>([&](bool a) { answer = a; }, false));
        return answer.value();
    }
    Strings callsLike(const std::string& prefix) {
        Strings found;
        for (const auto& call : p.calls) if (call.rfind(prefix, 0) == 0) found.push_back(call);
        return found;
    }
    Fake p;
    FakeWebView web{p, {}};
    PageConsole console{web, p};
    WebViewConfiguration configuration;
    std::optional<NotificationController> controller;
};

TEST_F(Notifications, OnlyTheApplicationsOwnTopPageIsGrantedAndThatIsRemembered) {
    struct Case {
        std::string page;
        bool fromMainFrame;
        std::optional<std::string> stored;
        bool granted;
        std::string storedAfter;
    };
    const std::string own = std::string(kOrigin) + "/inbox";
    const std::vector<Case> cases = {
        {own, true, std::nullopt, true, kOrigin},
        {own, false, std::nullopt, false, ""},
        {"https://accounts.google.com/signin", true, std::nullopt, false, ""},
        {"http://app.example.com:8443/inbox", true, std::nullopt, false, ""},
        {own, true, "https://old.example https://old.example", true, std::string("https://old.example ") + kOrigin},
        // Remembered already: the engine answers that origin itself, so whoever asks is another.
        {own, true, kOrigin, false, kOrigin},
    };
    for (const auto& c : cases) {
        p.stored.clear();
        p.calls.clear();
        if (c.stored) p.stored["notificationOrigins"] = *c.stored;
        make();
        web.currentUrl = c.page;
        EXPECT_EQ(ask(c.fromMainFrame), c.granted) << c.page << " " << c.stored.value_or("-");
        EXPECT_EQ(p.stored["notificationOrigins"], c.storedAfter.empty() ? c.stored.value_or("") : c.storedAfter);
        EXPECT_EQ(callsLike("allow notifications"),
                  c.granted ? Strings{std::string("allow notifications ") + kOrigin} : Strings{});
    }
}

TEST_F(Notifications, APlantedOrDamagedListAllowsNoOne) {
    for (const std::string& stored : Strings{"https://app.example.com:8443/inbox", "https://APP.example.com:8443",
                                     "javascript:alert(1)", "https://app.example.com:8443\x01", "http://app.example.com:8443",
                                     std::string(5000, 'x') + kOrigin}) {
        p.stored["notificationOrigins"] = stored;
        configuration = {};
        make();
        EXPECT_TRUE(configuration.notificationOrigins.empty()) << stored;
    }
    p.stored["notificationOrigins"] = std::string("junk ") + kOrigin;
    configuration = {};
    make();
    EXPECT_EQ(configuration.notificationOrigins, Strings{kOrigin});
    EXPECT_EQ(readNotificationOrigins("https://a.test:443 https://b.test"), Strings{"https://b.test"});
}

TEST_F(Notifications, AtMostTenAMinuteCutLikeDialogTextAndATagReplacesItsNotification) {
    auto& n = make();
    n.show({1, std::string(10001, 't'), "body", "inbox"});
    EXPECT_EQ(callsLike("notify"), Strings{"notify page-1 [" + std::string(10000, 't') + "…] [body]"});
    EXPECT_EQ(callsLike("requestAuthorization").size(), 1u);
    p.calls.clear();
    n.show({2, "New", "mail", "inbox"});
    n.show({3, "Other", "", ""});
    EXPECT_EQ(callsLike("withdraw"), Strings{"withdraw page-1"});
    n.closed(2);
    n.closed(2);
    n.closed(77);
    EXPECT_EQ(callsLike("withdraw"), (Strings{"withdraw page-1", "withdraw page-2"}));
    for (std::uint64_t id = 4; id < 20; ++id) n.show({id, "burst", "", ""});
    EXPECT_EQ(callsLike("notify").size(), 9u);  // ten in the minute, with the first
    ASSERT_FALSE(web.scripts.empty());
    EXPECT_NE(web.scripts.back().find("Notification dropped: more than 10 a minute"), std::string::npos);
    p.advance(60);
    n.show({20, "later", "", ""});
    EXPECT_EQ(callsLike("notify").size(), 10u);
    EXPECT_EQ(callsLike("requestAuthorization").size(), 0u);  // asked once, at the first
}

TEST_F(Notifications, AClickBringsTheWindowForwardAndTellsThePageOnce) {
    auto& n = make();
    n.show({3, "Hi", "", ""});
    for (const char* identifier : {"page-3", "page-3", "page-x", "page-", "other-3"}) {
        p.notificationDelegate->didReceiveNotificationResponse(identifier);
    }
    EXPECT_EQ(callsLike("activate").size(), 5u);
    EXPECT_EQ(callsLike("clicked"), Strings{"clicked 3"});
}

TEST_F(Notifications, TheBridgeServesTheTopFrameOfTheApplicationOnly) {
    auto& n = make(true);
    ASSERT_EQ(configuration.scriptMessageHandlers.size(), 1u);
    EXPECT_NE(configuration.userScripts.at(0).source.find("state = 'default'"), std::string::npos);
    EXPECT_FALSE(configuration.userScripts.at(0).injectAtDocumentEnd);
    const auto send = [&](bool mainFrame, const std::string& host, const std::string& body) {
        web.scripts.clear();
        n.didReceiveScriptMessage({"corvidaleNotification", mainFrame, host, body});
        return web.scripts;
    };
    EXPECT_EQ(send(false, "app.example.com", R"({"type":"request"})"),
              Strings{"window.__corvidaleNotifications && __corvidaleNotifications.answer('denied')"});
    EXPECT_EQ(send(true, "foreign.test", R"({"type":"show","id":5,"title":"x"})"), Strings{});
    EXPECT_TRUE(callsLike("notify").empty());
    EXPECT_EQ(send(true, "app.example.com", R"({"type":"request"})"),
              Strings{"window.__corvidaleNotifications && __corvidaleNotifications.answer('granted')"});
    EXPECT_EQ(p.stored["notificationOrigins"], kOrigin);
    for (const char* bad : {"{", "[]", R"({"type":"show","id":-1})", R"({"type":"show","id":"5"})"}) {
        send(true, "app.example.com", bad);
    }
    send(true, "app.example.com", R"({"type":"show","id":5,"title":"Hi","body":"there","tag":7})");
    EXPECT_EQ(callsLike("notify"), Strings{"notify page-5 [Hi] [there]"});
    p.notificationDelegate->didReceiveNotificationResponse("page-5");
    EXPECT_EQ(web.scripts, Strings{"window.__corvidaleNotifications && __corvidaleNotifications.clicked(5)"});
    EXPECT_TRUE(callsLike("clicked").empty());
}

}  // namespace
}  // namespace corvidale
