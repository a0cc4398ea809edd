#include "bundle.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace corvidale::gtk {
namespace {

using Kind = platform::PlistValue::Kind;

constexpr const char* kInfoXml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleIdentifier</key>
	<string>com.example.shell</string>
	<key>CorvidaleOrigin</key>
	<integer>42</integer>
	<key>Negative</key>
	<integer>-7</integer>
	<key>Flag</key>
	<true/>
	<key>Ratio</key>
	<real>1.5</real>
	<key>List</key>
	<array><string>a</string></array>
	<key>Empty</key>
	<string></string>
	<key>Escaped</key>
	<string>Zo&#235; &amp; co</string>
</dict>
</plist>
)";

TEST(InfoPlist, KeepsTheTypeOfEachValue) {
    const auto info = InfoPlist::fromBytes(kInfoXml);

    const auto identifier = info.value("CFBundleIdentifier");
    ASSERT_TRUE(identifier);
    EXPECT_EQ(identifier->kind, Kind::String);
    EXPECT_EQ(identifier->text, "com.example.shell");

    // A number where a string is expected must not pass for the string "42".
    const auto origin = info.value("CorvidaleOrigin");
    ASSERT_TRUE(origin);
    EXPECT_EQ(origin->kind, Kind::Number);
    EXPECT_FALSE(origin->isNonEmptyString());
    EXPECT_EQ(origin->text, "42");

    EXPECT_EQ(info.value("Negative")->text, "-7");
    EXPECT_EQ(info.value("Flag")->kind, Kind::Boolean);
    EXPECT_EQ(info.value("Ratio")->kind, Kind::Number);
    EXPECT_EQ(info.value("List")->kind, Kind::Array);

    const auto empty = info.value("Empty");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->kind, Kind::String);
    EXPECT_FALSE(empty->isNonEmptyString());

    EXPECT_EQ(info.value("Escaped")->text, "Zo\xC3\xAB & co");
    EXPECT_FALSE(info.value("Missing"));
}

TEST(InfoPlist, ReadsTheBinaryFormatToo) {
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "CFBundleVersion", plist_new_string("57"));
    plist_dict_set_item(dict, "CorvidaleOrigin", plist_new_uint(8));
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(dict, &bytes, &length);
    plist_free(dict);
    ASSERT_NE(bytes, nullptr);
    const auto info = InfoPlist::fromBytes(std::string_view(bytes, length));
    std::free(bytes);

    ASSERT_TRUE(info.value("CFBundleVersion"));
    EXPECT_EQ(info.value("CFBundleVersion")->text, "57");
    EXPECT_EQ(info.value("CorvidaleOrigin")->kind, Kind::Number);
}

TEST(InfoPlist, AnythingButADictionaryReadsAsEmpty) {
    EXPECT_TRUE(InfoPlist::fromBytes("").empty());
    EXPECT_TRUE(InfoPlist::fromBytes("garbage\n\x01\x02").empty());
    EXPECT_TRUE(InfoPlist::fromBytes(std::string(kInfoXml).substr(0, 300)).empty());
    EXPECT_TRUE(InfoPlist::fromBytes("<plist version=\"1.0\"><array><string>a</string></array></plist>").empty());
    EXPECT_TRUE(InfoPlist::fromBytes("bplist00\xff\xff\xff").empty());
}

class BundleOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        gchar* made = g_dir_make_tmp("corvidale-bundle-XXXXXX", nullptr);
        ASSERT_NE(made, nullptr);
        root_ = made;
        g_free(made);
        std::filesystem::create_directories(root_ + "/Contents/MacOS");
    }
    void TearDown() override { std::filesystem::remove_all(root_); }
    void writeInfo(const std::string& text) { std::ofstream(root_ + "/Contents/Info.plist") << text; }

    std::string root_;
};

TEST_F(BundleOnDisk, ReadsContentsInfoPlist) {
    writeInfo(kInfoXml);
    const GtkBundle bundle(root_);
    EXPECT_EQ(bundle.bundlePath(), root_);
    EXPECT_EQ(bundle.bundleIdentifier(), "com.example.shell");
    EXPECT_EQ(bundle.infoString("CorvidaleOrigin"), std::nullopt);
}

TEST_F(BundleOnDisk, MissingOrCorruptInfoPlistBehavesAsEmpty) {
    const GtkBundle withoutFile(root_);
    EXPECT_FALSE(withoutFile.bundleIdentifier());
    EXPECT_FALSE(withoutFile.infoValue("CFBundleVersion"));

    writeInfo("<plist><dict><key>CFBundleIdentifier</key><string>unterminated");
    const GtkBundle corrupt(root_);
    EXPECT_FALSE(corrupt.bundleIdentifier());
}

TEST_F(BundleOnDisk, EmptyIdentifierCountsAsNone) {
    writeInfo("<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string></string></dict></plist>");
    EXPECT_FALSE(GtkBundle(root_).bundleIdentifier());
}

TEST(RunningBundle, IsThreeLevelsAboveTheExecutable) {
    // The test executable is not inside a bundle, but the rule is the same:
    // <bundle>/Contents/MacOS/<executable>.
    const auto exe = std::filesystem::canonical("/proc/self/exe");
    EXPECT_EQ(runningBundlePath(), exe.parent_path().parent_path().parent_path().string());
}

TEST(ProcessEnvironment, TellsUnsetFromEmpty) {
    ProcessEnvironment environment;
    ::setenv("CORVIDALE_TEST_EMPTY", "", 1);
    ::unsetenv("CORVIDALE_TEST_UNSET");
    EXPECT_EQ(environment.get("CORVIDALE_TEST_EMPTY"), std::optional<std::string>(""));
    EXPECT_EQ(environment.get("CORVIDALE_TEST_UNSET"), std::nullopt);
    EXPECT_EQ(environment.get(""), std::nullopt);
}

}  // namespace
}  // namespace corvidale::gtk
