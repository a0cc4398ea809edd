#include <gtest/gtest.h>

#include "core/web/user_agent.h"
#include "fake_platform.h"

namespace corvidale {
namespace {

using testing::FakePlatform;

TEST(UserAgent, UsesTheEngineAgentWhenItIsKnown) {
    FakePlatform p;
    p.knownUserAgent = "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/605.1.15";
    p.info["CorvidaleBuild"] = {platform::PlistValue::Kind::String, "1.4.0"};
    p.env["CORVIDALE_STAMP"] = "ignored";
    EXPECT_EQ(composeUserAgent(p), "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/605.1.15 CorvidaleShell/linux-1.4.0");
    EXPECT_EQ(p.webViewsCreated, 0) << "no probe when the engine tells the agent";
}

TEST(UserAgent, AsksAThrowAwayWebViewAndWaitsForItsAnswer) {
    FakePlatform p;
    p.knownUserAgent.reset();
    p.env["CORVIDALE_STAMP"] = "";
    p.onRunLoopTurn = [&p] {
        if (p.lastWebView && !p.lastWebView->evaluations.empty()) {
            auto evaluation = p.lastWebView->evaluations.front();
            p.lastWebView->evaluations.clear();
            EXPECT_EQ(evaluation.script, "navigator.userAgent");
            evaluation.completion({std::string("Probe/1.0"), std::nullopt});
        }
    };
    EXPECT_EQ(composeUserAgent(p), "Probe/1.0 CorvidaleShell/linux-");
    // The probe has the platform's default configuration, not the shell's.
    ASSERT_EQ(p.createdConfigurations.size(), 1u);
    EXPECT_TRUE(p.createdConfigurations[0].userScripts.empty());
    EXPECT_TRUE(p.createdConfigurations[0].scriptMessageHandlers.empty());
    EXPECT_EQ(p.lastWebView, nullptr) << "the probe is released";
    EXPECT_LT(p.now, 2.0);
}

TEST(UserAgent, GivesUpAfterTwoSecondsAndIgnoresALateAnswer) {
    FakePlatform p;
    p.knownUserAgent.reset();
    std::function<void(platform::ScriptResult)> late;
    p.onRunLoopTurn = [&p, &late] {
        if (p.lastWebView && !p.lastWebView->evaluations.empty()) {
            late = p.lastWebView->evaluations.front().completion;
            p.lastWebView->evaluations.clear();
        }
    };
    EXPECT_EQ(defaultUserAgent(p), "");
    EXPECT_DOUBLE_EQ(p.now, 2.0);
    ASSERT_TRUE(late);
    late({std::string("Too/Late"), std::nullopt});  // must not crash or change anything
    EXPECT_EQ(composeUserAgent(p).substr(0, 1), " ") << "token alone, beginning with its space";
}

TEST(UserAgent, NonTextOrFailedEvaluationGivesTheEmptyBaseWithoutWaiting) {
    for (const platform::ScriptResult& answer :
         {platform::ScriptResult{std::nullopt, std::nullopt}, platform::ScriptResult{std::nullopt, std::string("boom")}}) {
        FakePlatform p;
        p.knownUserAgent.reset();
        p.onRunLoopTurn = [&p, answer] {
            if (p.lastWebView && !p.lastWebView->evaluations.empty()) {
                auto evaluation = p.lastWebView->evaluations.front();
                p.lastWebView->evaluations.clear();
                evaluation.completion(answer);
            }
        };
        EXPECT_EQ(defaultUserAgent(p), "");
        EXPECT_LT(p.now, 2.0);
    }
}

}  // namespace
}  // namespace corvidale
