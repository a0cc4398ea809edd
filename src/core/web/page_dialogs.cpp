#include "page_dialogs.h"

#include <optional>
#include <string>
#include <vector>

#include "core/app/delegate.h"
#include "core/app/launch_config.h"
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

void Delegate::runJavaScriptAlertPanel(const std::string& message, platform::Completion<> completionHandler) {
    AlertContent content;
    content.messageText = pageDialogText(message);
    content.buttons = {"OK"};
    platform_.dialogs().showAlert(content, Presentation::SheetOnWindow,
                                  [completionHandler](AlertResult) { completionHandler(); });
}

void Delegate::runJavaScriptConfirmPanel(const std::string& message, platform::Completion<bool> completionHandler) {
    AlertContent content;
    content.messageText = pageDialogText(message);
    content.buttons = {"OK", "Cancel"};
    platform_.dialogs().showAlert(content, Presentation::SheetOnWindow, [completionHandler](AlertResult result) {
        completionHandler(result.response == kAlertFirstButtonReturn);
    });
}

void Delegate::runJavaScriptTextInputPanel(const std::string& prompt, const std::optional<std::string>& defaultText,
                                           platform::Completion<std::optional<std::string>> completionHandler) {
    AlertContent content;
    content.messageText = pageDialogText(prompt);
    // The field shows what OK answers, so a cut default text is answered cut,
    // with its ellipsis, unless the user edits it.
    content.textField = platform::TextField{260, 22, pageDialogText(defaultText.value_or(""))};
    content.buttons = {"OK", "Cancel"};
    platform_.dialogs().showAlert(content, Presentation::SheetOnWindow, [completionHandler](AlertResult result) {
        if (result.response == kAlertFirstButtonReturn) {
            completionHandler(result.text);
        } else {
            completionHandler(std::nullopt);
        }
    });
}

void Delegate::runOpenPanel(const platform::OpenPanelParameters& parameters,
                            platform::Completion<std::optional<std::vector<std::string>>> completionHandler) {
    platform_.dialogs().showOpenPanel(parameters,
                                      [completionHandler](int response, std::vector<std::string> paths) {
                                          if (response == platform::kModalResponseOK) {
                                              completionHandler(std::move(paths));
                                          } else {
                                              completionHandler(std::nullopt);
                                          }
                                      });
}

void Delegate::requestMediaCapturePermission(const std::string& /*securityOriginHost*/,
                                             platform::MediaCaptureType /*type*/,
                                             platform::Completion<platform::PermissionDecision> decisionHandler) {
    // Camera and microphone are for the web application itself: a sign-in
    // page or any other site that ends up as the top-level page gets nothing.
    const auto pageHost = hostOf(web ? web->url() : std::string());
    const auto originHost = appOrigin(platform_).canonicalHost();
    const bool ownPage = pageHost && originHost && *pageHost == *originHost;
    decisionHandler(ownPage ? platform::PermissionDecision::Grant : platform::PermissionDecision::Deny);
}

bool Delegate::printFrame(const platform::Initiator& initiator) {
    const auto verdict = gate_.admitPrint(initiator);
    if (verdict != GateVerdict::Allow) tellPage(refusalMessage(verdict, "print", ""));
    return verdict == GateVerdict::Allow;
}

}  // namespace corvidale
