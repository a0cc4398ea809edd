#pragma once

#include <optional>
#include <string>

#include "completion.h"
#include "download.h"
#include "request.h"

namespace corvidale::platform {

enum class NavigationType {
    LinkActivated = 0,
    FormSubmitted = 1,
    BackForward = 2,
    Reload = 3,
    FormResubmitted = 4,
    Other = -1,
};

struct NavigationAction {
    NavigationType type = NavigationType::Other;
    std::optional<std::string> url;  // nullopt when the request has no URL
    bool shouldPerformDownload = false;
    // nullopt where the engine tells nothing of who asked.
    std::optional<Initiator> initiator;
};

enum class NavigationActionPolicy { Cancel = 0, Allow = 1, Download = 2 };

struct NavigationResponse {
    bool isHTTP = false;
    std::optional<std::string> contentDisposition;  // the header's value, when present
    bool canShowMIMEType = true;
    std::optional<std::string> url;
    bool forMainFrame = true;
};

enum class NavigationResponsePolicy { Cancel = 0, Allow = 1, Download = 2 };

// Why a main-frame navigation failed, in the engine's own terms: the error's
// domain ("NSURLErrorDomain", "g-io-error-quark", ...) and code.
struct LoadFailure {
    std::string url;
    std::string domain;
    long code = 0;
    std::string fullDescription;
};

class NavigationDelegate {
public:
    virtual ~NavigationDelegate() = default;
    virtual void decidePolicyForNavigationAction(const NavigationAction& action,
                                                 Completion<NavigationActionPolicy> decisionHandler) = 0;
    virtual void decidePolicyForNavigationResponse(const NavigationResponse& response,
                                                   Completion<NavigationResponsePolicy> decisionHandler) = 0;
    // `action` or `response` is the one the delegate answered; a download the
    // delegate is not told of is cancelled by the backend.
    virtual void navigationActionDidBecomeDownload(const NavigationAction& action, Download& download) = 0;
    virtual void navigationResponseDidBecomeDownload(const NavigationResponse& response, Download& download) = 0;
    virtual void didFinishNavigation() = 0;
    // The main frame's navigation failed, before or after it committed.
    // Answers whether the delegate showed a page of its own in its place;
    // the engine then shows no error page.
    virtual bool didFailNavigation(const LoadFailure& failure) = 0;
    // The engine's process that ran the page is gone (it crashed or the
    // system ended it); the view shows nothing live until it loads again.
    virtual void webContentProcessDidTerminate() = 0;
};

}  // namespace corvidale::platform
