// The page's alert, confirm and prompt, answered from the keyboard the way a
// user would, and what the page got back.
#include "e2e_test.h"

namespace corvidale::e2e {
namespace {

class DialogsTest : public E2eTest {};

// Each dialog carries a message no other window has, so the test can find it
// by name. What the page got back is reported as JSON, so that null and the
// empty string stay apart.
const char* kDialogsPage = R"HTML(<!doctype html><html><head><meta charset="utf-8"><title>Dialogs</title>
REPORT</head><body><p>dialogs</p>
<script>
window.addEventListener('load', function () {
  setTimeout(function () {
    alert('e2e-alert-one');
    report('alert returned');
    report('confirm-return ' + JSON.stringify(confirm('e2e-confirm-accept')));
    report('confirm-escape ' + JSON.stringify(confirm('e2e-confirm-dismiss')));
    report('prompt-default ' + JSON.stringify(prompt('e2e-prompt-keep', 'preset value')));
    report('prompt-typed ' + JSON.stringify(prompt('e2e-prompt-typed', 'old text')));
    report('prompt-escape ' + JSON.stringify(prompt('e2e-prompt-dismiss', 'unused')));
    report('prompt-empty ' + JSON.stringify(prompt('e2e-prompt-no-default')));
    report('all answered');
  }, 0);
});
</script></body></html>)HTML";

std::string dialogsPage() {
    std::string html = kDialogsPage;
    html.replace(html.find("REPORT"), 6, kReportScript);
    return html;
}

TEST_F(DialogsTest, AlertConfirmAndPromptGetWhatTheKeysAnswered) {
    server().page("/dialogs", dialogsPage());
    auto app = launchAt("/dialogs");
    app->window(kStartTimeout);

    struct Answer {
        std::string message;
        std::vector<std::string> keys;  // xdotool key names, or "type:<text>"
        std::string report;
    };
    const std::vector<Answer> answers = {
        {"e2e-alert-one", {"Return"}, "alert returned"},
        {"e2e-confirm-accept", {"Return"}, "confirm-return true"},
        {"e2e-confirm-dismiss", {"Escape"}, "confirm-escape false"},
        {"e2e-prompt-keep", {"Return"}, "prompt-default \"preset value\""},
        {"e2e-prompt-typed", {"ctrl+a", "type:typed words", "Return"}, "prompt-typed \"typed words\""},
        {"e2e-prompt-dismiss", {"Escape"}, "prompt-escape null"},
        {"e2e-prompt-no-default", {"Return"}, "prompt-empty \"\""},
    };
    for (const auto& answer : answers) {
        SCOPED_TRACE(answer.message);
        const auto dialog = x11::findWindow(app->display(), app->pid(), answer.message, kEventTimeout);
        ASSERT_TRUE(dialog) << "no dialog window named after the message\n"
                            << server().describeTraffic() << app->describe();
        for (const auto& key : answer.keys) {
            if (key.rfind("type:", 0) == 0) {
                ASSERT_TRUE(x11::type(app->display(), *dialog, key.substr(5)));
            } else {
                ASSERT_TRUE(x11::key(app->display(), *dialog, key));
            }
        }
        ASSERT_TRUE(server().waitForExactReport(answer.report, kEventTimeout))
            << server().describeTraffic() << app->describe();
        // Answered means gone.
        EXPECT_TRUE(waitUntil([&] { return x11::visibleWindows(app->display(), app->pid(), answer.message).empty(); },
                              kEventTimeout));
    }
    ASSERT_TRUE(server().waitForExactReport("all answered", kEventTimeout)) << server().describeTraffic();
    closeWithKeyboardAndExpectCleanExit(*app);
}

}  // namespace
}  // namespace corvidale::e2e
