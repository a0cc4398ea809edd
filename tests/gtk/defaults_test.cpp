#include "defaults.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace corvidale::gtk {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class DefaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        gchar* made = g_dir_make_tmp("corvidale-defaults-XXXXXX", nullptr);
        ASSERT_NE(made, nullptr);
        folder_ = made;
        g_free(made);
        path_ = folder_ + "/com.example.shell/defaults.ini";
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::unique_ptr<KeyFileDefaults> open(std::map<std::string, std::string> argumentDomain = {}) {
        return std::make_unique<KeyFileDefaults>(path_, std::move(argumentDomain),
                                                 [this](const std::string& line) { reports_.push_back(line); });
    }
    void writeRaw(const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
        std::ofstream(path_, std::ios::binary) << bytes;
    }

    std::string folder_;
    std::string path_;
    std::vector<std::string> reports_;
};

TEST_F(DefaultsTest, ValuesPersistForTheNextRun) {
    {
        auto defaults = open();
        EXPECT_FALSE(defaults->string("lastAppTheme"));
        EXPECT_FALSE(defaults->boolean("autoUpdate"));
        defaults->setString("lastAppTheme", "light");
        defaults->setBoolean("autoUpdate", true);
        defaults->setString("NSWindow Frame CorvidaleMain", "900 650");
        defaults->setString("multiline", "one\ntwo = three");
    }
    auto again = open();
    EXPECT_EQ(again->string("lastAppTheme"), "light");
    EXPECT_TRUE(again->boolean("autoUpdate"));
    EXPECT_EQ(again->string("NSWindow Frame CorvidaleMain"), "900 650");
    EXPECT_EQ(again->string("multiline"), "one\ntwo = three");
    again->setBoolean("autoUpdate", false);
    EXPECT_FALSE(open()->boolean("autoUpdate"));
    EXPECT_TRUE(reports_.empty());
}

TEST_F(DefaultsTest, ArgumentDomainOverridesForOneRunAndIsNeverSaved) {
    open()->setString("updateFeed", "https://feed.example/releases.json");

    auto run = open({{"updateFeed", "file:///tmp/feed.json"}, {"downloadSelfTest", "YES"}});
    EXPECT_EQ(run->string("updateFeed"), "file:///tmp/feed.json");
    EXPECT_TRUE(run->boolean("downloadSelfTest"));
    // Writing under an overridden key saves it, but this run keeps reading
    // the command line's value.
    run->setString("updateFeed", "https://other.example/feed.json");
    EXPECT_EQ(run->string("updateFeed"), "file:///tmp/feed.json");
    run->setString("lastAppTheme", "dark");

    const std::string saved = readFile(path_);
    EXPECT_EQ(saved.find("downloadSelfTest"), std::string::npos);
    EXPECT_EQ(saved.find("file:///tmp/feed.json"), std::string::npos);
    auto next = open();
    EXPECT_EQ(next->string("updateFeed"), "https://other.example/feed.json");
    EXPECT_FALSE(next->string("downloadSelfTest"));
}

TEST_F(DefaultsTest, WritingKeepsWhatAnotherInstanceSavedMeanwhile) {
    auto first = open();
    auto second = open();
    first->setString("lastAppTheme", "light");
    second->setString("NSWindow Frame CorvidaleMain", "800 600");
    auto third = open();
    EXPECT_EQ(third->string("lastAppTheme"), "light");
    EXPECT_EQ(third->string("NSWindow Frame CorvidaleMain"), "800 600");
}

TEST_F(DefaultsTest, CorruptFileIsReportedOnceAndMovedAsideOnlyWhenWritten) {
    const std::string garbage = "not a key file\n\x01\x02[[[\n";
    writeRaw(garbage);

    auto defaults = open({{"downloadSelfTest", "YES"}});
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_NE(reports_[0].find(path_), std::string::npos);
    EXPECT_FALSE(defaults->string("lastAppTheme"));
    EXPECT_FALSE(defaults->boolean("autoUpdate"));
    EXPECT_TRUE(defaults->boolean("downloadSelfTest"));  // the command line still counts
    EXPECT_EQ(readFile(path_), garbage);                // reading leaves it alone

    defaults->setString("lastAppTheme", "dark");
    EXPECT_EQ(reports_.size(), 1u);
    EXPECT_EQ(readFile(path_ + ".corrupt"), garbage);
    EXPECT_EQ(open()->string("lastAppTheme"), "dark");
    EXPECT_EQ(reports_.size(), 1u);
}

TEST_F(DefaultsTest, AnEarlierCorruptCopyIsNotReplaced) {
    writeRaw("first broken file\n");
    open()->setString("a", "1");
    writeRaw("second broken file\n");
    open()->setString("b", "2");
    EXPECT_EQ(readFile(path_ + ".corrupt"), "first broken file\n");
    EXPECT_EQ(readFile(path_ + ".corrupt.2"), "second broken file\n");
    EXPECT_EQ(open()->string("b"), "2");
}

TEST_F(DefaultsTest, KeysAndValuesTheFileCannotHoldAreRefused) {
    auto defaults = open();
    defaults->setString("a=b", "x");
    defaults->setString("[group]", "x");
    defaults->setString("", "x");
    defaults->setString("bytes", std::string("\xff\xfe", 2));
    EXPECT_EQ(reports_.size(), 4u);
    EXPECT_FALSE(defaults->string("a=b"));
    EXPECT_FALSE(defaults->string("bytes"));
    // Nothing was written, so nothing can have been damaged either.
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST(DefaultsPath, LivesUnderTheUserConfigFolderPerApplication) {
    const std::string config = g_get_user_config_dir();
    EXPECT_EQ(defaultsPathFor("com.example.shell"), config + "/com.example.shell/defaults.ini");
    // An identifier that is no usable folder name falls back to the shell's own.
    EXPECT_EQ(defaultsPathFor("../escape"), config + "/com.corvidale.desktop/defaults.ini");
    EXPECT_EQ(defaultsPathFor(""), config + "/com.corvidale.desktop/defaults.ini");
}

TEST(DefaultsBoolean, ReadsLikeTheDesktopPlatform) {
    for (const char* yes : {"YES", "yes", "Yes", "true", "TRUE", "1", "2", "-1", "0.5", " YES "}) {
        EXPECT_TRUE(defaultsBooleanValue(yes)) << yes;
    }
    for (const char* no : {"NO", "no", "false", "0", "0.0", "", "y", "t", "on", "abc", "1abc", "nan"}) {
        EXPECT_FALSE(defaultsBooleanValue(no)) << no;
    }
}

}  // namespace
}  // namespace corvidale::gtk
