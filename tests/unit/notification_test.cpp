// The page's notifications: who may show them, what reaches the desktop, and
// what a click does.
#include <gtest/gtest.h>

#include "core/web/notification_controller.h"
#include "fake.h"

namespace corvidale {
namespace {

using namespace platform;
using Strings = std::vector<std::string>;
const std::string kOrigin = "https://app.example.com:8443";

struct Notifications : ::testing::Test {
    NotificationController& make(bool bridged = false, const std::string& page = kOrigin + "/inbox") {
        web.handlerNames.clear();
        web.userScripts.clear();
        controller.emplace(p, p, p, p, origin, bridged, web, console);
        web.currentUrl = page;
        return *controller;
    }
    Strings calls(const std::string& prefix) {
        Strings found;
        for (const auto& call : p.calls) if (call.rfind(prefix, 0) == 0) found.push_back(call);
        return found;
    }
    const AppOrigin origin = *AppOrigin::parse(kOrigin + "/home");
    testing::Fake p;
    testing::FakeWebView web{p, {}};
    PageConsole console{web, p};
    std::optional<NotificationController> controller;
};

TEST_F(Notifications, OnlyTheOwnTopPageIsGrantedRememberedAndAPlantedListAllowsNoOne) {
    const std::string own = kOrigin + "/inbox";
    struct Case { std::string page; bool mainFrame; std::string stored; bool granted; std::string storedAfter; };
    const std::vector<Case> cases = {
        {own, true, "", true, kOrigin},
        {own, false, "", false, ""},
        {"https://accounts.google.com/signin", true, "", false, ""},
        {"http://app.example.com:8443/inbox", true, "", false, ""},
        {"https://app.example.com:9443/inbox", true, "", false, ""},  // where a redirect went, not the origin
        {own, true, "https://old.test https://old.test", true, "https://old.test " + kOrigin},
        // Remembered: the engine answers that origin itself, so whoever still asks is another.
        {own, true, kOrigin, false, kOrigin},
    };
    for (const auto& c : cases) {
        p.stored = {{"notificationOrigins", c.stored}};
        p.calls.clear();
        make(false, c.page);
        std::optional<bool> answer;
        controller->requestPermission(c.mainFrame, Completion<bool>([&](bool a) { answer = a; }, false));
        EXPECT_EQ(answer, c.granted) << c.page << " " << c.stored;
        EXPECT_EQ(p.stored["notificationOrigins"], c.granted ? c.storedAfter : c.stored);
        EXPECT_EQ(calls("allow notifications"), c.granted ? Strings{"allow notifications " + kOrigin} : Strings{});
    }
    for (const std::string& planted : {kOrigin + "/inbox", std::string("https://APP.example.com:8443"),
                                       std::string("javascript:alert(1)"), kOrigin + "\x01", std::string(5000, 'x')}) {
        p.stored = {{"notificationOrigins", planted + " " + planted}};
        EXPECT_EQ(grantedNotificationOrigins(p, origin), Strings{}) << planted;
    }
    p.stored = {{"notificationOrigins", "junk https://a.test:443 " + kOrigin}};
    EXPECT_EQ(grantedNotificationOrigins(p, origin), Strings{kOrigin});
}

TEST_F(Notifications, TenAMinuteCutLikeDialogTextTagsReplaceAndAClickComesForward) {
    auto& n = make();
    n.show({1, std::string(10001, 't'), std::string(10000, 'b'), "inbox"});  // the body fits exactly
    EXPECT_EQ(calls("notify"), Strings{"notify page-1 [" + std::string(10000, 't') + "…] [" + std::string(10000, 'b') + "]"});
    n.show({2, "New", "mail", "inbox"});
    n.show({3, "Other", "", ""});
    n.closed(2);
    n.closed(2);
    EXPECT_EQ(calls("withdraw"), (Strings{"withdraw page-1", "withdraw page-2"}));
    int shown = 0;
    for (std::uint64_t id = 4; id < 20; ++id) shown += n.show({id, "burst", "", ""});
    EXPECT_EQ(shown, 7);
    EXPECT_EQ(calls("notify").size(), 10u);
    EXPECT_NE(web.scripts.back().find("Notification dropped: more than 10 a minute"), std::string::npos);
    p.advance(60);
    n.show({20, "later", "", ""});
    EXPECT_EQ(calls("notify").size(), 11u);
    EXPECT_EQ(calls("requestAuthorization").size(), 1u);
    for (const char* identifier : {"page-3", "page-3", "page-x", "page-", "other-3"}) {
        p.notificationDelegate->didReceiveNotificationResponse(identifier);
    }
    EXPECT_EQ(calls("activate").size(), 5u);
    EXPECT_EQ(calls("clicked"), Strings{"clicked 3"});
}

TEST_F(Notifications, TheBridgeServesTheTopFrameOfTheApplicationOnly) {
    auto& n = make(true);
    ASSERT_EQ(web.handlerNames, Strings{"corvidaleNotification"});
    EXPECT_NE(web.userScripts.at(0).source.find("state = 'default'"), std::string::npos);
    struct From { bool mainFrame; SecurityOrigin origin; };
    const From own{true, {"https", "app.example.com", 8443}};
    const auto send = [&](const From& from, const std::string& body) {
        web.scripts.clear();
        n.didReceiveScriptMessage({"corvidaleNotification", from.mainFrame, from.origin, body});
        return web.scripts.empty() ? std::string() : web.scripts.back();
    };
    // A frame, another host, port or scheme on the same host: none of them is the application.
    const std::vector<From> strangers = {{false, {"https", "app.example.com", 8443}}, {true, {"https", "foreign.test", 8443}},
                                         {true, {"https", "app.example.com", 0}}, {true, {"https", "app.example.com", 9443}},
                                         {true, {"http", "app.example.com", 8443}}};
    const std::string answer = "window.__corvidaleNotifications && __corvidaleNotifications.answer(";
    for (const auto& from : strangers) {
        EXPECT_EQ(send(from, R"({"type":"request"})"), answer + "'denied')") << from.origin.protocol << from.origin.port;
    }
    EXPECT_EQ(send(own, R"({"type":"request"})"), answer + "'granted')");
    EXPECT_EQ(p.stored["notificationOrigins"], kOrigin);
    for (const char* body : {"{", "[]", R"({"type":"show","id":-1})", R"({"type":"show","id":"5"})",
                             R"({"type":"show","id":6,"title":"Six"})",
                             R"({"type":"show","id":5,"title":"Hi","body":"there","tag":7})"}) {
        send(own, body);
    }
    for (const auto& from : strangers) send(from, R"({"type":"show","id":9,"title":"x"})");
    for (const auto& from : strangers) send(from, R"({"type":"close","id":6})");
    EXPECT_EQ(calls("withdraw"), Strings{}) << "only the application closes its notifications";
    send(own, R"({"type":"close","id":6})");
    EXPECT_EQ(calls("withdraw"), Strings{"withdraw page-6"});
    EXPECT_EQ(calls("notify"), (Strings{"notify page-6 [Six] []", "notify page-5 [Hi] [there]"}));
    const std::string head = R"({"type":"show","id":8,"title":")", tail = R"("})";  // of 1 MiB shown, 1 byte more not
    for (std::size_t extra : {1u, 0u}) send(own, head + std::string((1u << 20) - head.size() - tail.size() + extra, 'x') + tail);
    EXPECT_EQ(calls("notify").size(), 3u);  // and a tag replaces the one shown under it, and only that one:
    for (const char* id : {"10,\"tag\":\"t\"", "11,\"tag\":\"u\"", "12,\"tag\":\"t\""}) send(own, R"({"type":"show","title":"x","id":)" + std::string(id) + "}");
    EXPECT_EQ(calls("withdraw"), (Strings{"withdraw page-6", "withdraw page-10"}));
    p.notificationDelegate->didReceiveNotificationResponse("page-5");
    EXPECT_EQ(web.scripts, Strings{"window.__corvidaleNotifications && __corvidaleNotifications.clicked(5)"});
}

}  // namespace
}  // namespace corvidale
