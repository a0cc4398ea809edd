#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "completion.h"
#include "dialogs.h"
#include "navigation.h"
#include "request.h"

namespace corvidale::platform {

enum class MediaCaptureType { Camera = 0, Microphone = 1, CameraAndMicrophone = 2 };
enum class PermissionDecision { Prompt = 0, Grant = 1, Deny = 2 };

// A notification a page shows, by the id the engine gave it.
struct PageNotification {
    std::uint64_t id = 0;
    std::string title;
    std::string body;
    std::string tag;  // empty when the page gave none
};

class UIDelegate {
public:
    virtual ~UIDelegate() = default;
    // Answers whether a web view was created; the shell never creates one.
    virtual bool createWebViewForNavigationAction(const NavigationAction& action) = 0;
    // `frame` is the frame that asked, nullopt when the engine did not tell.
    virtual void runJavaScriptAlertPanel(const std::string& message, const std::optional<FrameInfo>& frame,
                                         Completion<> completionHandler) = 0;
    virtual void runJavaScriptConfirmPanel(const std::string& message, const std::optional<FrameInfo>& frame,
                                           Completion<bool> completionHandler) = 0;
    virtual void runJavaScriptTextInputPanel(const std::string& prompt, const std::optional<std::string>& defaultText,
                                             const std::optional<FrameInfo>& frame,
                                             Completion<std::optional<std::string>> completionHandler) = 0;
    virtual void runOpenPanel(const OpenPanelParameters& parameters,
                              Completion<std::optional<std::vector<std::string>>> completionHandler) = 0;
    virtual void requestMediaCapturePermission(const std::string& securityOriginHost, MediaCaptureType type,
                                               Completion<PermissionDecision> decisionHandler) = 0;
    // window.print(): answers whether the engine may go on to its print dialog.
    virtual bool printFrame(const Initiator& initiator) = 0;
    // Notification.requestPermission(); `fromMainFrame` is whether the top
    // frame's document asked, as far as the engine tells.
    virtual void requestNotificationPermission(bool fromMainFrame, Completion<bool> decisionHandler) = 0;
    // Answers whether it went to the desktop: one that was dropped is the
    // backend's to forget at once, however many a page makes.
    virtual bool showNotification(const PageNotification& notification) = 0;
    // The page closed notification `id`, or the engine withdrew it.
    virtual void notificationClosed(std::uint64_t id) = 0;
};

}  // namespace corvidale::platform
