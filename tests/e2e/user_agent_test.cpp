// The user agent the web application sees: the engine's own agent with the
// shell's product token and build stamp at the end, from the first request on.
#include "e2e_test.h"

namespace corvidale::e2e {
namespace {

// What an untouched web view of this machine's engine calls itself.
std::string engineUserAgent(World& world, const Profile& scratchUser) {
    const auto result = runCommand({CORVIDALE_E2E_ENGINE_AGENT},
                                   {{"DISPLAY", world.display()},
                                    {"HOME", scratchUser.home()},
                                    {"XDG_CONFIG_HOME", scratchUser.configHome()},
                                    {"XDG_DATA_HOME", scratchUser.dataHome()},
                                    {"XDG_CACHE_HOME", scratchUser.cacheHome()},
                                    {"XDG_RUNTIME_DIR", scratchUser.runtimeDir()},
                                    {"DBUS_SESSION_BUS_ADDRESS", ""}},
                                   60s);
    EXPECT_TRUE(result.success()) << result.describe();
    auto agent = result.out;
    while (!agent.empty() && agent.back() == '\n') agent.pop_back();
    return agent;
}

std::string agentPage() {
    return std::string("<!doctype html><html><head>") + kReportScript +
           "</head><body><script>report('agent ' + navigator.userAgent);</script></body></html>";
}

class UserAgentTest : public E2eTest {};

TEST_F(UserAgentTest, FirstRequestAndPageCarryTheEngineAgentWithTheStampedToken) {
    Profile scratchUser;
    const std::string engine = engineUserAgent(world(), scratchUser);
    ASSERT_FALSE(engine.empty());
    server().page("/agent", agentPage());

    struct Case {
        std::string name;
        std::optional<std::string> stamp;
        std::optional<std::string> infoBuild;
        std::string expectedToken;
    };
    const std::vector<Case> cases = {
        {"CORVIDALE_STAMP=57", "57", std::nullopt, " CorvidaleShell/linux-57"},
        {"no stamp anywhere", std::nullopt, std::nullopt, " CorvidaleShell/linux-dev"},
        {"empty CORVIDALE_STAMP", "", std::nullopt, " CorvidaleShell/linux-"},
        {"CorvidaleBuild in Info.plist beats CORVIDALE_STAMP", "57", "2024.11-rc1", " CorvidaleShell/linux-2024.11-rc1"},
    };
    for (const auto& scenario : cases) {
        SCOPED_TRACE(scenario.name);
        std::optional<BundleCopy> copy;
        LaunchOptions options = originAt(server().appUrl("/agent?case=" + urlEncode(scenario.name)));
        options.stamp = scenario.stamp;
        if (scenario.infoBuild) {
            copy.emplace();
            copy->setString("CorvidaleBuild", *scenario.infoBuild);
            options.executable = copy->executable();
        }
        const size_t before = server().requests().size();
        const size_t reportsBefore = server().reports().size();
        auto app = launch(options);
        ASSERT_TRUE(server().waitForRequest([](const RecordedRequest&) { return true; }, kStartTimeout, before))
            << app->describe();

        // The very first request of the run already has the composed agent.
        const auto first = server().requests().at(before);
        EXPECT_EQ(first.path, "/agent");
        // Engine agent first, the token last, nothing in between.
        EXPECT_EQ(first.userAgent, engine + scenario.expectedToken);

        // And the page sees the same text as navigator.userAgent.
        ASSERT_TRUE(waitUntil([&] { return server().reports().size() > reportsBefore; }, kEventTimeout))
            << server().describeTraffic() << app->describe();
        EXPECT_EQ(server().reports().at(reportsBefore), "agent " + first.userAgent);

        closeWithKeyboardAndExpectCleanExit(*app);
    }
}

}  // namespace
}  // namespace corvidale::e2e
