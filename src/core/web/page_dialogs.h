#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/dialogs.h"
#include "core/platform/ui_delegate.h"
#include "page_console.h"
#include "request_gate.h"

namespace corvidale {

// The longest page dialog text, in characters, that is shown in full. A page
// may pass megabytes; laying that out would stall the interface for minutes.
inline constexpr std::size_t kPageDialogTextLimit = 10000;

// `text` as a page dialog shows it: shortenedText() to `limit` characters.
std::string pageDialogText(std::string_view text, std::size_t limit = kPageDialogTextLimit);

// The window title of a page dialog that `frame` asked for: who asks, never
// the page's own words.
std::string pageDialogTitle(const platform::FrameInfo& frame);

// What the page asks the user through the shell: alert, confirm and prompt as
// sheets on the window, file inputs as open panels, camera and microphone,
// printing.
class PageDialogs {
public:
    // `origin`: the configured origin, nullopt if it is none.
    PageDialogs(platform::Dialogs& dialogs, platform::WebView& web, const AppOrigin& origin, RequestGate& gate,
                PageConsole& console);

    // A dialog the gate refuses is answered at once as if dismissed (nothing,
    // false, null) and named in the page's console.
    void runJavaScriptAlertPanel(const std::string& message, const std::optional<platform::FrameInfo>& frame,
                                 platform::Completion<> completionHandler);
    void runJavaScriptConfirmPanel(const std::string& message, const std::optional<platform::FrameInfo>& frame,
                                   platform::Completion<bool> completionHandler);
    void runJavaScriptTextInputPanel(const std::string& prompt, const std::optional<std::string>& defaultText,
                                     const std::optional<platform::FrameInfo>& frame,
                                     platform::Completion<std::optional<std::string>> completionHandler);
    void runOpenPanel(const platform::OpenPanelParameters& parameters,
                      platform::Completion<std::optional<std::vector<std::string>>> completionHandler);
    void requestMediaCapturePermission(platform::Completion<platform::PermissionDecision> decisionHandler);
    // window.print(): whether the engine may go on to its print dialog.
    bool printFrame(const platform::Initiator& initiator);

private:
    // The alert's content when `frame` may show one, else nullopt (refusal told).
    std::optional<platform::AlertContent> admitted(const std::string& kind, const std::string& message,
                                                   const std::optional<platform::FrameInfo>& frame);

    platform::Dialogs& dialogs_;
    platform::WebView& web_;
    const AppOrigin& origin_;
    RequestGate& gate_;
    PageConsole& console_;
};

}  // namespace corvidale
