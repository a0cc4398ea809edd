#include <gtest/gtest.h>

#include "core/app/launch_config.h"
#include "fake_platform.h"

namespace corvidale {
namespace {

using platform::PlistValue;
using testing::FakePlatform;
using testing::ProcessExited;

PlistValue str(std::string text) { return {PlistValue::Kind::String, std::move(text)}; }
PlistValue num(std::string text) { return {PlistValue::Kind::Number, std::move(text)}; }

TEST(LaunchConfiguration, SourcesAreConsultedInOrder) {
    FakePlatform p;
    EXPECT_EQ(appOrigin(p).text(), "https://app.corvidale.com");
    EXPECT_EQ(buildStamp(p), "dev");

    p.env["CORVIDALE_ORIGIN"] = "https://env.example:8443/app";
    p.env["CORVIDALE_STAMP"] = "57";
    EXPECT_EQ(appOrigin(p).text(), "https://env.example:8443/app");
    EXPECT_EQ(buildStamp(p), "57");

    p.info["CorvidaleOrigin"] = str("https://plist.example");
    p.info["CorvidaleBuild"] = str("58");
    EXPECT_EQ(appOrigin(p).text(), "https://plist.example");
    EXPECT_EQ(buildStamp(p), "58");
}

TEST(LaunchConfiguration, InfoValuesThatAreNotNonEmptyStringsDoNotCount) {
    FakePlatform p;
    p.env["CORVIDALE_ORIGIN"] = "https://env.example";
    p.env["CORVIDALE_STAMP"] = "from-env";
    for (const auto& value : {str(""), num("42"), PlistValue{PlistValue::Kind::Boolean, "true"},
                              PlistValue{PlistValue::Kind::Array, ""}, PlistValue{PlistValue::Kind::Data, "x"}}) {
        p.info["CorvidaleOrigin"] = value;
        p.info["CorvidaleBuild"] = value;
        EXPECT_EQ(appOrigin(p).text(), "https://env.example");
        EXPECT_EQ(buildStamp(p), "from-env");
    }
    p.env.clear();
    EXPECT_EQ(appOrigin(p).text(), "https://app.corvidale.com");
    EXPECT_EQ(buildStamp(p), "dev");
}

TEST(LaunchConfiguration, AnEmptyStampVariableIsAValue) {
    FakePlatform p;
    p.env["CORVIDALE_STAMP"] = "";
    EXPECT_EQ(buildStamp(p), "");
}

TEST(LaunchConfiguration, TextIsUsedExactlyAsRead) {
    FakePlatform p;
    p.env["CORVIDALE_ORIGIN"] = "https://Host.Example:9/p/a?q=1&r=2#frag";
    const auto origin = appOrigin(p);
    EXPECT_EQ(origin.text(), "https://Host.Example:9/p/a?q=1&r=2#frag");
    EXPECT_EQ(origin.host(), "Host.Example");
}

TEST(LaunchConfiguration, ValidityRule) {
    for (const char* good : {"https://a.b", "https://a.b:8443/path?q#f", "https://127.0.0.1:1/", "https://[::1]:99/",
                             "https://localhost"}) {
        EXPECT_TRUE(isValidOrigin(good)) << good;
    }
    for (const char* bad : {"", "http://a.b", "HTTPS://a.b", "Https://a.b", "ftp://a.b", "https:/path", "https:///path",
                            "https://a b.com", " https://a.b", "https://a.b ", "a.b", "https:", "https://",
                            "mailto:someone@a.b", "file:///etc/passwd", "https//a.b"}) {
        EXPECT_FALSE(isValidOrigin(bad)) << bad;
    }
}

TEST(LaunchConfiguration, InvalidOriginWritesTheLineAndExitsWithTwo) {
    struct Case {
        std::optional<PlistValue> info;
        std::optional<std::string> env;
        std::string expectedLine;
    };
    const Case cases[] = {
        {std::nullopt, "http://app.example/", "CORVIDALE_ORIGIN must be an https URL: http://app.example/"},
        {std::nullopt, "", "CORVIDALE_ORIGIN must be an https URL: "},
        {std::nullopt, "HTTPS://APP.EXAMPLE", "CORVIDALE_ORIGIN must be an https URL: HTTPS://APP.EXAMPLE"},
        // The message names the variable whichever source supplied the text.
        {str("https:/nohost"), "https://fine.example", "CORVIDALE_ORIGIN must be an https URL: https:/nohost"},
    };
    for (const auto& c : cases) {
        FakePlatform p;
        if (c.info) p.info["CorvidaleOrigin"] = *c.info;
        if (c.env) p.env["CORVIDALE_ORIGIN"] = *c.env;
        try {
            appOrigin(p);
            ADD_FAILURE() << "appOrigin returned for " << c.expectedLine;
        } catch (const ProcessExited& exited) {
            EXPECT_EQ(exited.status, 2);
        }
        EXPECT_EQ(p.stderrLines, std::vector<std::string>{c.expectedLine});
        EXPECT_TRUE(p.calls.empty()) << "no termination sequence may run";
    }
}

}  // namespace
}  // namespace corvidale
