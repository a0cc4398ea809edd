// What the application's origin owns: one answer for every controller.
#include <gtest/gtest.h>

#include "core/web/app_origin.h"

namespace corvidale {
namespace {

TEST(AppOrigin, OwnsItsSchemeHostAndPortAndNothingElse) {
    struct Case { const char *configured, *url; bool owned; };
    const Case cases[] = {
        {"https://app.example.com", "https://app.example.com/x?y#z", true},
        {"https://app.example.com", "https://APP.Example.COM/", true},
        {"HTTPS://App.Example.com/base", "https://app.example.com:443/", true},
        {"https://app.example.com", "https://user:pw@app.example.com/", true},
        {"https://app.example.com", "http://app.example.com/", false},
        {"https://app.example.com", "https://app.example.com:8443/", false},
        {"https://app.example.com:8443", "https://app.example.com/", false},
        {"https://app.example.com:8443", "https://app.example.com:8443/a", true},
        {"https://app.example.com", "https://app.example.com./", false},
        {"https://app.example.com", "https://sub.app.example.com/", false},
        {"https://app.example.com", "https://app.example.com.evil.test/", false},
        {"https://app.example.com", "https://evil.test/?https://app.example.com/", false},
        {"https://app.example.com", "blob:https://app.example.com/uuid", false},
        {"https://app.example.com", "about:blank", false}, {"https://app.example.com", "not a url", false},
        {"https://bücher.example", "https://xn--bcher-kva.example/", true},
        {"https://xn--bcher-kva.example", "https://BÜCHER.example/", true},
        {"https://[::1]:8443", "https://[::1]:8443/", true}, {"https://[::1]:8443", "https://[::2]:8443/", false},
    };
    for (const auto& c : cases) {
        const auto origin = AppOrigin::parse(c.configured);
        ASSERT_TRUE(origin) << c.configured;
        EXPECT_EQ(origin->ownsURL(c.url), c.owned) << c.configured << " / " << c.url;
    }
}

TEST(AppOrigin, IsHttpsInAnyCaseWithAHostAndAPort) {
    for (auto good : {"https://127.0.0.1:1/", "Https://a.b"}) EXPECT_TRUE(AppOrigin::parse(good)) << good;
    for (auto bad : {"HTTPSS://a.b", "ftp://a.b", "https:/path", "https:///path", "https://", "https://a b.com",
                     " https://a.b", "a.b", "https://a.b:0/", "https://a.b:99999/"}) EXPECT_FALSE(AppOrigin::parse(bad)) << bad;
}

TEST(AppOrigin, IsWrittenAndLoadedInTheEnginesForm) {
    const auto idn = AppOrigin::parse("HTTPS://Bücher.Example:8443/Start?q=%2F");
    ASSERT_TRUE(idn);
    EXPECT_EQ(idn->host(), "xn--bcher-kva.example");
    EXPECT_EQ(idn->port(), 8443);
    EXPECT_EQ(idn->serialized(), "https://xn--bcher-kva.example:8443");
    EXPECT_EQ(idn->url(), "https://xn--bcher-kva.example:8443/Start?q=%2F");
    EXPECT_EQ(AppOrigin::parse("https://app.example.com:443")->serialized(), "https://app.example.com");
    EXPECT_TRUE(idn->ownsOrigin("https", "xn--bcher-kva.example", 8443));
    EXPECT_FALSE(idn->ownsOrigin("https", "xn--bcher-kva.example", 0));
    EXPECT_TRUE(AppOrigin::parse("https://a.test")->ownsOrigin("HTTPS", "a.test", 0));
    EXPECT_FALSE(idn->ownsHost(""));
    // The origin of a run that names none owns nothing.
    EXPECT_FALSE(AppOrigin().ownsOrigin("", "", 0) || AppOrigin().ownsURL("https://a.test/"));
}

}  // namespace
}  // namespace corvidale
