#include "command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvidale::gtk {
namespace {

CommandLine parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "corvidale");
    return parseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

TEST(CommandLine, ArgumentDomainTakesKeyValuePairs) {
    const auto line = parse({"-downloadSelfTest", "YES", "-updateFeed", "file:///tmp/feed.json"});
    EXPECT_FALSE(line.help);
    EXPECT_FALSE(line.version);
    EXPECT_TRUE(line.ignored.empty());
    ASSERT_EQ(line.argumentDomain.size(), 2u);
    EXPECT_EQ(line.argumentDomain.at("downloadSelfTest"), "YES");
    EXPECT_EQ(line.argumentDomain.at("updateFeed"), "file:///tmp/feed.json");
}

TEST(CommandLine, ValueMayStartWithADashAndTheLastPairWins) {
    const auto line = parse({"-offset", "-1", "-offset", "-2"});
    ASSERT_EQ(line.argumentDomain.count("offset"), 1u);
    EXPECT_EQ(line.argumentDomain.at("offset"), "-2");
    EXPECT_TRUE(line.ignored.empty());
}

TEST(CommandLine, HelpAndVersionAreOptionsAnywhereButNotWhenTheyAreAValue) {
    EXPECT_TRUE(parse({"-a", "b", "--version"}).version);
    EXPECT_TRUE(parse({"--help", "-a", "b"}).help);

    const auto asValue = parse({"-key", "--help"});
    EXPECT_FALSE(asValue.help);
    EXPECT_EQ(asValue.argumentDomain.at("key"), "--help");
}

TEST(CommandLine, AnythingElseIsSetAsideInsteadOfFailing) {
    const auto line = parse({"--unknown", "file.txt", "-", "-dangling"});
    EXPECT_TRUE(line.argumentDomain.empty());
    EXPECT_EQ(line.ignored, (std::vector<std::string>{"--unknown", "file.txt", "-", "-dangling"}));
    EXPECT_FALSE(line.help);
}

}  // namespace
}  // namespace corvidale::gtk
