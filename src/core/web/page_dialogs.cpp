#include "page_dialogs.h"

#include "core/util/url.h"

namespace corvidale {

std::string pageDialogText(std::string_view text, std::size_t limit) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool continuation = (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
        if (continuation) continue;
        if (characters == limit) return std::string(text.substr(0, i)) + "…";
        ++characters;
    }
    return std::string(text);
}

using platform::AlertResult;
using platform::AlertContent;
using platform::kAlertFirstButtonReturn;
using platform::Presentation;

PageDialogs::PageDialogs(platform::Dialogs& dialogs, platform::WebView& web, std::optional<std::string> originHost,
                         RequestGate& gate, PageConsole& console)
    : dialogs_(dialogs), web_(web), originHost_(std::move(originHost)), gate_(gate), console_(console) {}

void PageDialogs::runJavaScriptAlertPanel(const std::string& message, platform::Completion<> completionHandler) {
    AlertContent content;
    content.messageText = pageDialogText(message);
    content.buttons = {"OK"};
    dialogs_.showAlert(content, Presentation::SheetOnWindow, [completionHandler](AlertResult) { completionHandler(); });
}

void PageDialogs::runJavaScriptConfirmPanel(const std::string& message, platform::Completion<bool> completionHandler) {
    AlertContent content;
    content.messageText = pageDialogText(message);
    content.buttons = {"OK", "Cancel"};
    dialogs_.showAlert(content, Presentation::SheetOnWindow, [completionHandler](AlertResult result) {
        completionHandler(result.response == kAlertFirstButtonReturn);
    });
}

void PageDialogs::runJavaScriptTextInputPanel(const std::string& prompt, const std::optional<std::string>& defaultText,
                                              platform::Completion<std::optional<std::string>> completionHandler) {
    AlertContent content;
    content.messageText = pageDialogText(prompt);
    // The field shows what OK answers, so a cut default text is answered cut,
    // with its ellipsis, unless the user edits it.
    content.textField = platform::TextField{260, 22, pageDialogText(defaultText.value_or(""))};
    content.buttons = {"OK", "Cancel"};
    dialogs_.showAlert(content, Presentation::SheetOnWindow, [completionHandler](AlertResult result) {
        if (result.response == kAlertFirstButtonReturn) {
            completionHandler(result.text);
        } else {
            completionHandler(std::nullopt);
        }
    });
}

void PageDialogs::runOpenPanel(const platform::OpenPanelParameters& parameters,
                               platform::Completion<std::optional<std::vector<std::string>>> completionHandler) {
    dialogs_.showOpenPanel(parameters, [completionHandler](int response, std::vector<std::string> paths) {
        if (response == platform::kModalResponseOK) {
            completionHandler(std::move(paths));
        } else {
            completionHandler(std::nullopt);
        }
    });
}

void PageDialogs::requestMediaCapturePermission(platform::Completion<platform::PermissionDecision> decisionHandler) {
    // Camera and microphone are for the web application itself: a sign-in
    // page or any other site that ends up as the top-level page gets nothing.
    const auto pageHost = hostOf(web_.url());
    const bool ownPage = pageHost && originHost_ && *pageHost == *originHost_;
    decisionHandler(ownPage ? platform::PermissionDecision::Grant : platform::PermissionDecision::Deny);
}

bool PageDialogs::printFrame(const platform::Initiator& initiator) {
    const auto verdict = gate_.admitPrint(initiator);
    if (verdict != GateVerdict::Allow) console_.warn(refusalMessage(verdict, "print", ""));
    return verdict == GateVerdict::Allow;
}

}  // namespace corvidale
