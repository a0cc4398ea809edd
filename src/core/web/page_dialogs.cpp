#include "page_dialogs.h"

#include "core/util/text.h"

namespace corvidale {

std::string pageDialogText(std::string_view text, std::size_t limit) { return shortenedText(text, limit); }

std::string pageDialogTitle(const platform::FrameInfo& frame) {
    const std::string origin = serializedOrigin(frame.securityOrigin);
    const auto scheme = origin.find("://");
    return (scheme == std::string::npos ? "This page" : origin.substr(scheme + 3)) + " says";
}

using platform::AlertResult;
using platform::AlertContent;
using platform::kAlertFirstButtonReturn;
using platform::Presentation;

PageDialogs::PageDialogs(platform::Dialogs& dialogs, platform::WebView& web, const AppOrigin& origin,
                         RequestGate& gate, PageConsole& console)
    : dialogs_(dialogs), web_(web), origin_(origin), gate_(gate), console_(console) {}

std::optional<AlertContent> PageDialogs::admitted(const std::string& kind, const std::string& message,
                                                  const std::optional<platform::FrameInfo>& frame) {
    const auto verdict = gate_.admitDialog(frame);
    if (verdict != GateVerdict::Allow) {
        console_.warn(refusalMessage(verdict, kind, frame ? serializedOrigin(frame->securityOrigin) : ""));
        return std::nullopt;
    }
    AlertContent content;
    content.messageText = pageDialogText(message);
    content.windowTitle = pageDialogTitle(*frame);
    return content;
}

void PageDialogs::runJavaScriptAlertPanel(const std::string& message, const std::optional<platform::FrameInfo>& frame,
                                          platform::Completion<> completionHandler) {
    auto content = admitted("alert", message, frame);
    if (!content) return completionHandler();
    content->buttons = {"OK"};
    dialogs_.showAlert(*content, Presentation::SheetOnWindow, [completionHandler](AlertResult) { completionHandler(); });
}

void PageDialogs::runJavaScriptConfirmPanel(const std::string& message, const std::optional<platform::FrameInfo>& frame,
                                            platform::Completion<bool> completionHandler) {
    auto content = admitted("confirm", message, frame);
    if (!content) return completionHandler(false);
    content->buttons = {"OK", "Cancel"};
    dialogs_.showAlert(*content, Presentation::SheetOnWindow, [completionHandler](AlertResult result) {
        completionHandler(result.response == kAlertFirstButtonReturn);
    });
}

void PageDialogs::runJavaScriptTextInputPanel(const std::string& prompt, const std::optional<std::string>& defaultText,
                                              const std::optional<platform::FrameInfo>& frame,
                                              platform::Completion<std::optional<std::string>> completionHandler) {
    auto content = admitted("prompt", prompt, frame);
    if (!content) return completionHandler(std::nullopt);
    // The field shows what OK answers, so a cut default text is answered cut,
    // with its ellipsis, unless the user edits it.
    content->textField = platform::TextField{260, 22, pageDialogText(defaultText.value_or(""))};
    content->buttons = {"OK", "Cancel"};
    dialogs_.showAlert(*content, Presentation::SheetOnWindow, [completionHandler](AlertResult result) {
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
    const bool ownPage = origin_.ownsURL(web_.url());
    decisionHandler(ownPage ? platform::PermissionDecision::Grant : platform::PermissionDecision::Deny);
}

bool PageDialogs::printFrame(const platform::Initiator& initiator) {
    const auto verdict = gate_.admitPrint(initiator);
    if (verdict != GateVerdict::Allow) console_.warn(refusalMessage(verdict, "print", ""));
    return verdict == GateVerdict::Allow;
}

}  // namespace corvidale
