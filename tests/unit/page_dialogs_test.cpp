#include <gtest/gtest.h>

#include "core/app/delegate.h"
#include "fake_platform.h"

namespace corvidale {
namespace {

using platform::AlertResult;
using platform::kAlertFirstButtonReturn;
using platform::kModalResponseAbort;
using testing::FakePlatform;

class PageDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        p.env["CORVIDALE_ORIGIN"] = "https://app.example.com/";
        delegate.applicationDidFinishLaunching();
    }
    FakePlatform p;
    Delegate delegate{p};
};

TEST_F(PageDialogs, AlertShowsOneOkButtonAndCompletesWhenDismissed) {
    int completions = 0;
    delegate.runJavaScriptAlertPanel("Saved!", platform::Completion<>([&] { ++completions; }));
    ASSERT_EQ(p.alerts.size(), 1u);
    EXPECT_EQ(p.alerts[0].content.messageText, "Saved!");
    EXPECT_FALSE(p.alerts[0].content.informativeText);
    EXPECT_EQ(p.alerts[0].content.buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(p.alerts[0].presentation, platform::Presentation::SheetOnWindow);
    EXPECT_EQ(completions, 0) << "returns as soon as the sheet is up";
    p.answerAlert({kModalResponseAbort, "", false});
    EXPECT_EQ(completions, 1);
}

TEST_F(PageDialogs, ConfirmIsTrueOnlyForTheFirstButton) {
    std::vector<bool> answers;
    for (int response : {kAlertFirstButtonReturn, kAlertFirstButtonReturn + 1, kModalResponseAbort, 0}) {
        delegate.runJavaScriptConfirmPanel("Delete?", platform::Completion<bool>(
                                                          [&](bool ok) { answers.push_back(ok); }, false));
        EXPECT_EQ(p.alerts.back().content.buttons, (std::vector<std::string>{"OK", "Cancel"}));
        p.answerAlert({response, "", false});
    }
    EXPECT_EQ(answers, (std::vector<bool>{true, false, false, false}));
}

TEST_F(PageDialogs, PromptAnswersTheFieldOnOkAndNothingOtherwise) {
    std::vector<std::optional<std::string>> answers;
    auto ask = [&](std::optional<std::string> defaultText) {
        delegate.runJavaScriptTextInputPanel(
            "Your name?", defaultText,
            platform::Completion<std::optional<std::string>>(
                [&](std::optional<std::string> text) { answers.push_back(std::move(text)); }, std::nullopt));
    };
    ask(std::nullopt);
    ASSERT_TRUE(p.alerts.back().content.textField);
    EXPECT_EQ(p.alerts.back().content.textField->text, "") << "no default text shows an empty field";
    EXPECT_EQ(p.alerts.back().content.textField->width, 260);
    EXPECT_EQ(p.alerts.back().content.textField->height, 22);
    EXPECT_EQ(p.alerts.back().content.buttons, (std::vector<std::string>{"OK", "Cancel"}));
    p.answerAlert({kAlertFirstButtonReturn, "", false});  // OK with the field cleared

    ask(std::string("Ada"));
    EXPECT_EQ(p.alerts.back().content.textField->text, "Ada");
    p.answerAlert({kAlertFirstButtonReturn + 1, "Ada", false});  // Cancel

    ask(std::string("Ada"));
    p.answerAlert({kAlertFirstButtonReturn, "Grace", false});

    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[0], std::optional<std::string>(""));
    EXPECT_EQ(answers[1], std::nullopt);
    EXPECT_EQ(answers[2], std::optional<std::string>("Grace"));
}

TEST_F(PageDialogs, OpenPanelPassesItsOptionsAndAnswersOnlyOnOk) {
    std::vector<std::optional<std::vector<std::string>>> answers;
    auto open = [&](bool directories, bool multiple) {
        delegate.runOpenPanel({directories, multiple},
                              platform::Completion<std::optional<std::vector<std::string>>>(
                                  [&](auto chosen) { answers.push_back(std::move(chosen)); }, std::nullopt));
    };
    open(false, true);
    EXPECT_FALSE(p.panels.back().parameters.allowsDirectories);
    EXPECT_TRUE(p.panels.back().parameters.allowsMultipleSelection);
    p.panels.back().done(platform::kModalResponseOK, {"/tmp/b.txt", "/tmp/a.txt"});
    open(true, false);
    EXPECT_TRUE(p.panels.back().parameters.allowsDirectories);
    EXPECT_FALSE(p.panels.back().parameters.allowsMultipleSelection);
    p.panels.back().done(platform::kModalResponseCancel, {});
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], (std::vector<std::string>{"/tmp/b.txt", "/tmp/a.txt"})) << "in the panel's order";
    EXPECT_EQ(answers[1], std::nullopt);
}

TEST_F(PageDialogs, ADroppedSheetStillAnswersOnce) {
    std::vector<bool> answers;
    delegate.runJavaScriptConfirmPanel("Leave?",
                                       platform::Completion<bool>([&](bool ok) { answers.push_back(ok); }, false));
    p.alerts.clear();  // the window went away with the sheet
    EXPECT_EQ(answers, std::vector<bool>{false});
}

TEST_F(PageDialogs, MediaCaptureIsGrantedOnlyToTheOriginsOwnPage) {
    auto ask = [&](const std::string& pageUrl) {
        p.lastWebView->currentUrl = pageUrl;
        std::optional<platform::PermissionDecision> decision;
        delegate.requestMediaCapturePermission(
            "any.frame.example", platform::MediaCaptureType::CameraAndMicrophone,
            platform::Completion<platform::PermissionDecision>([&](auto d) { decision = d; },
                                                               platform::PermissionDecision::Deny));
        EXPECT_TRUE(p.alerts.empty()) << "no sheet of our own";
        return decision;
    };
    EXPECT_EQ(ask("https://app.example.com/call"), platform::PermissionDecision::Grant);
    EXPECT_EQ(ask("https://accounts.google.com/signin"), platform::PermissionDecision::Deny);
    EXPECT_EQ(ask("https://evil.example/"), platform::PermissionDecision::Deny);
    EXPECT_EQ(ask(""), platform::PermissionDecision::Deny);
}

TEST(CompletionHandlers, RunExactlyOnceAndFallBackWhenDropped) {
    std::vector<int> seen;
    {
        platform::Completion<int> completion([&](int v) { seen.push_back(v); }, -1);
        auto copy = completion;
        copy(1);
        completion(2);
        EXPECT_TRUE(completion.called());
    }
    { platform::Completion<int> forgotten([&](int v) { seen.push_back(v); }, -1); }
    EXPECT_EQ(seen, (std::vector<int>{1, -1}));
}

}  // namespace
}  // namespace corvidale
