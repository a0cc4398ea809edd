#include "web_view.h"

#include <atomic>
#include <optional>
#include <utility>
#include <vector>

#include "ns_text.h"

using corvidale::platform::Completion;
using corvidale::platform::NavigationActionPolicy;
using corvidale::platform::NavigationResponsePolicy;
using corvidale::platform::PermissionDecision;

namespace {

corvidale::platform::NavigationType navigationTypeOf(WKNavigationType type) {
    using corvidale::platform::NavigationType;
    switch (type) {
    case WKNavigationTypeLinkActivated:
        return NavigationType::LinkActivated;
    case WKNavigationTypeFormSubmitted:
        return NavigationType::FormSubmitted;
    case WKNavigationTypeBackForward:
        return NavigationType::BackForward;
    case WKNavigationTypeReload:
        return NavigationType::Reload;
    case WKNavigationTypeFormResubmitted:
        return NavigationType::FormResubmitted;
    default:
        return NavigationType::Other;
    }
}

std::optional<corvidale::platform::FrameInfo> frameInfoOf(WKFrameInfo* frame) {
    if (frame == nil) return std::nullopt;
    WKSecurityOrigin* origin = [frame securityOrigin];
    corvidale::platform::FrameInfo info;
    info.isMainFrame = [frame isMainFrame];
    info.securityOrigin = {corvidale::mac::toStdString([origin protocol]), corvidale::mac::toStdString([origin host]),
                           static_cast<int>([origin port])};
    return info;
}

corvidale::platform::NavigationAction navigationActionFrom(WKNavigationAction* action) {
    corvidale::platform::NavigationAction result;
    result.type = navigationTypeOf([action navigationType]);
    if (NSURL* url = [[action request] URL]) result.url = corvidale::mac::toStdString([url absoluteString]);
    result.shouldPerformDownload = [action shouldPerformDownload];
    // WKNavigationAction names the asking frame, but has no public word on
    // whether the user acted.
    corvidale::platform::Initiator initiator;
    initiator.frame = frameInfoOf([action sourceFrame]);
    initiator.knowsUserGestures = false;
    result.initiator = initiator;
    return result;
}

corvidale::platform::NavigationResponse navigationResponseFrom(WKNavigationResponse* navigationResponse) {
    corvidale::platform::NavigationResponse response;
    NSURLResponse* native = [navigationResponse response];
    if ([native isKindOfClass:[NSHTTPURLResponse class]]) {
        response.isHTTP = true;
        response.contentDisposition = corvidale::mac::optionalString(
            [static_cast<NSHTTPURLResponse*>(native) valueForHTTPHeaderField:@"Content-Disposition"]);
    }
    if (NSURL* url = [native URL]) response.url = corvidale::mac::toStdString([url absoluteString]);
    response.canShowMIMEType = [navigationResponse canShowMIMEType];
    response.forMainFrame = [navigationResponse isForMainFrame];
    return response;
}

WKNavigationActionPolicy actionPolicyOf(NavigationActionPolicy policy) {
    switch (policy) {
    case NavigationActionPolicy::Allow:
        return WKNavigationActionPolicyAllow;
    case NavigationActionPolicy::Download:
        return WKNavigationActionPolicyDownload;
    case NavigationActionPolicy::Cancel:
        break;
    }
    return WKNavigationActionPolicyCancel;
}

WKNavigationResponsePolicy responsePolicyOf(NavigationResponsePolicy policy) {
    switch (policy) {
    case NavigationResponsePolicy::Allow:
        return WKNavigationResponsePolicyAllow;
    case NavigationResponsePolicy::Download:
        return WKNavigationResponsePolicyDownload;
    case NavigationResponsePolicy::Cancel:
        break;
    }
    return WKNavigationResponsePolicyCancel;
}

WKPermissionDecision permissionDecisionOf(PermissionDecision decision) {
    switch (decision) {
    case PermissionDecision::Prompt:
        return WKPermissionDecisionPrompt;
    case PermissionDecision::Grant:
        return WKPermissionDecisionGrant;
    case PermissionDecision::Deny:
        break;
    }
    return WKPermissionDecisionDeny;
}

corvidale::platform::MediaCaptureType captureTypeOf(WKMediaCaptureType type) {
    using corvidale::platform::MediaCaptureType;
    switch (type) {
    case WKMediaCaptureTypeCamera:
        return MediaCaptureType::Camera;
    case WKMediaCaptureTypeMicrophone:
        return MediaCaptureType::Microphone;
    default:
        return MediaCaptureType::CameraAndMicrophone;
    }
}

// WebKit refuses a destination where anything exists already, and the core
// claims its destination by creating an empty file there. That placeholder,
// and only an empty regular file, goes just before WebKit takes over.
void releasePlaceholder(NSString* path) {
    NSFileManager* files = [NSFileManager defaultManager];
    NSDictionary* attributes = [files attributesOfItemAtPath:path error:nil];
    if (attributes == nil) return;
    if (![[attributes fileType] isEqualToString:NSFileTypeRegular] || [attributes fileSize] != 0) return;
    [files removeItemAtPath:path error:nil];
}

corvidale::platform::DownloadId nextDownloadId() {
    static std::atomic<corvidale::platform::DownloadId> counter{0};
    return ++counter;
}

}  // namespace

// How WebKit loads its own error pages: in the failed load's place in the
// back-forward list, so that the list holds the URL the user went to and a
// reload loads that URL. The public API has no such load; without this one
// the page is loaded as an ordinary document of its own.
@interface WKWebView (CVDAlternateHTML)
- (void)_loadAlternateHTMLString:(NSString*)string baseURL:(NSURL*)baseURL forUnreachableURL:(NSURL*)unreachableURL;
@end

// Every WebKit delegate call of one web view, forwarded to the core's
// delegates. Each decision or completion handler is wrapped in a Completion,
// so it is answered exactly once, with the refusal when the core drops it.
// After the web view is gone (`owner` cleared), calls get WebKit's defaults.
@interface CVDWebViewDelegate : NSObject <WKNavigationDelegate, WKUIDelegate, WKDownloadDelegate, WKScriptMessageHandler>
@property(nonatomic, assign) corvidale::mac::MacWebView* owner;
@end

@implementation CVDWebViewDelegate

// --- WKNavigationDelegate --------------------------------------------------

- (void)webView:(WKWebView*)webView
    decidePolicyForNavigationAction:(WKNavigationAction*)navigationAction
                    decisionHandler:(void (^)(WKNavigationActionPolicy))decisionHandler {
    auto* delegate = _owner != nullptr ? _owner->navigationDelegate() : nullptr;
    if (delegate == nullptr) {
        decisionHandler(WKNavigationActionPolicyAllow);
        return;
    }
    delegate->decidePolicyForNavigationAction(
        navigationActionFrom(navigationAction),
        Completion<NavigationActionPolicy>(
            [decisionHandler](NavigationActionPolicy policy) { decisionHandler(actionPolicyOf(policy)); },
            NavigationActionPolicy::Cancel));
}

- (void)webView:(WKWebView*)webView
    decidePolicyForNavigationResponse:(WKNavigationResponse*)navigationResponse
                      decisionHandler:(void (^)(WKNavigationResponsePolicy))decisionHandler {
    auto* delegate = _owner != nullptr ? _owner->navigationDelegate() : nullptr;
    if (delegate == nullptr) {
        decisionHandler(WKNavigationResponsePolicyAllow);
        return;
    }
    delegate->decidePolicyForNavigationResponse(
        navigationResponseFrom(navigationResponse), Completion<NavigationResponsePolicy>(
                      [decisionHandler](NavigationResponsePolicy policy) { decisionHandler(responsePolicyOf(policy)); },
                      NavigationResponsePolicy::Cancel));
}

- (void)webView:(WKWebView*)webView
    navigationAction:(WKNavigationAction*)navigationAction
    didBecomeDownload:(WKDownload*)download {
    if (_owner == nullptr) return;
    auto& adopted = _owner->adopt(download);
    if (auto* delegate = _owner->navigationDelegate()) {
        delegate->navigationActionDidBecomeDownload(navigationActionFrom(navigationAction), adopted);
    }
}

- (void)webView:(WKWebView*)webView
    navigationResponse:(WKNavigationResponse*)navigationResponse
     didBecomeDownload:(WKDownload*)download {
    if (_owner == nullptr) return;
    auto& adopted = _owner->adopt(download);
    if (auto* delegate = _owner->navigationDelegate()) {
        delegate->navigationResponseDidBecomeDownload(navigationResponseFrom(navigationResponse), adopted);
    }
}

- (void)webView:(WKWebView*)webView didFinishNavigation:(WKNavigation*)navigation {
    if (_owner == nullptr || _owner->takeAlternateLoad(navigation)) return;
    if (auto* delegate = _owner->navigationDelegate()) delegate->didFinishNavigation();
}

- (void)webView:(WKWebView*)webView
    didFailProvisionalNavigation:(WKNavigation*)navigation
                       withError:(NSError*)error {
    [self navigation:navigation didFailWithError:error];
}

- (void)webView:(WKWebView*)webView didFailNavigation:(WKNavigation*)navigation withError:(NSError*)error {
    [self navigation:navigation didFailWithError:error];
}

// WKWebView shows nothing of its own for a failed load, whatever the core answers.
- (void)navigation:(WKNavigation*)navigation didFailWithError:(NSError*)error {
    if (_owner == nullptr || _owner->takeAlternateLoad(navigation)) return;
    auto* delegate = _owner->navigationDelegate();
    if (delegate == nullptr) return;
    id failing = [[error userInfo] objectForKey:NSURLErrorFailingURLErrorKey];
    NSString* url = [failing isKindOfClass:[NSURL class]] ? [static_cast<NSURL*>(failing) absoluteString] : nil;
    using corvidale::mac::toStdString;
    delegate->didFailNavigation({toStdString(url), toStdString([error domain]), static_cast<long>([error code]),
                                 toStdString([error description])});
}

- (void)webViewWebContentProcessDidTerminate:(WKWebView*)webView {
    if (auto* delegate = _owner != nullptr ? _owner->navigationDelegate() : nullptr) {
        delegate->webContentProcessDidTerminate();
    }
}

// --- WKUIDelegate ----------------------------------------------------------

- (WKWebView*)webView:(WKWebView*)webView
    createWebViewWithConfiguration:(WKWebViewConfiguration*)configuration
               forNavigationAction:(WKNavigationAction*)navigationAction
                    windowFeatures:(WKWindowFeatures*)windowFeatures {
    if (auto* delegate = _owner != nullptr ? _owner->uiDelegate() : nullptr) {
        delegate->createWebViewForNavigationAction(navigationActionFrom(navigationAction));
    }
    return nil;
}

- (void)webView:(WKWebView*)webView
    runJavaScriptAlertPanelWithMessage:(NSString*)message
                      initiatedByFrame:(WKFrameInfo*)frame
                     completionHandler:(void (^)(void))completionHandler {
    auto* delegate = _owner != nullptr ? _owner->uiDelegate() : nullptr;
    if (delegate == nullptr) {
        completionHandler();
        return;
    }
    delegate->runJavaScriptAlertPanel(corvidale::mac::toStdString(message), frameInfoOf(frame),
                                      Completion<>(std::function<void()>([completionHandler] { completionHandler(); })));
}

- (void)webView:(WKWebView*)webView
    runJavaScriptConfirmPanelWithMessage:(NSString*)message
                        initiatedByFrame:(WKFrameInfo*)frame
                       completionHandler:(void (^)(BOOL result))completionHandler {
    auto* delegate = _owner != nullptr ? _owner->uiDelegate() : nullptr;
    if (delegate == nullptr) {
        completionHandler(NO);
        return;
    }
    delegate->runJavaScriptConfirmPanel(
        corvidale::mac::toStdString(message), frameInfoOf(frame),
        Completion<bool>([completionHandler](bool confirmed) { completionHandler(confirmed ? YES : NO); }, false));
}

- (void)webView:(WKWebView*)webView
    runJavaScriptTextInputPanelWithPrompt:(NSString*)prompt
                              defaultText:(NSString*)defaultText
                         initiatedByFrame:(WKFrameInfo*)frame
                        completionHandler:(void (^)(NSString* result))completionHandler {
    auto* delegate = _owner != nullptr ? _owner->uiDelegate() : nullptr;
    if (delegate == nullptr) {
        completionHandler(nil);
        return;
    }
    delegate->runJavaScriptTextInputPanel(
        corvidale::mac::toStdString(prompt), corvidale::mac::optionalString(defaultText), frameInfoOf(frame),
        Completion<std::optional<std::string>>(
            [completionHandler](std::optional<std::string> text) {
                completionHandler(text ? corvidale::mac::toNSString(*text) : nil);
            },
            std::nullopt));
}

- (void)webView:(WKWebView*)webView
    runOpenPanelWithParameters:(WKOpenPanelParameters*)parameters
              initiatedByFrame:(WKFrameInfo*)frame
             completionHandler:(void (^)(NSArray<NSURL*>* URLs))completionHandler {
    auto* delegate = _owner != nullptr ? _owner->uiDelegate() : nullptr;
    if (delegate == nullptr) {
        completionHandler(nil);
        return;
    }
    corvidale::platform::OpenPanelParameters request;
    request.allowsDirectories = [parameters allowsDirectories];
    request.allowsMultipleSelection = [parameters allowsMultipleSelection];
    delegate->runOpenPanel(request, Completion<std::optional<std::vector<std::string>>>(
                                        [completionHandler](std::optional<std::vector<std::string>> paths) {
                                            if (!paths) {
                                                completionHandler(nil);
                                                return;
                                            }
                                            NSMutableArray<NSURL*>* urls = [NSMutableArray array];
                                            for (const auto& path : *paths) {
                                                [urls addObject:corvidale::mac::fileURL(path)];
                                            }
                                            completionHandler(urls);
                                        },
                                        std::nullopt));
}

- (void)webView:(WKWebView*)webView
    requestMediaCapturePermissionForOrigin:(WKSecurityOrigin*)origin
                          initiatedByFrame:(WKFrameInfo*)frame
                                      type:(WKMediaCaptureType)type
                           decisionHandler:(void (^)(WKPermissionDecision decision))decisionHandler {
    auto* delegate = _owner != nullptr ? _owner->uiDelegate() : nullptr;
    if (delegate == nullptr) {
        decisionHandler(WKPermissionDecisionPrompt);
        return;
    }
    delegate->requestMediaCapturePermission(
        corvidale::mac::toStdString([origin host]), captureTypeOf(type),
        Completion<PermissionDecision>(
            [decisionHandler](PermissionDecision decision) { decisionHandler(permissionDecisionOf(decision)); },
            PermissionDecision::Deny));
}

// --- WKDownloadDelegate ----------------------------------------------------

- (void)download:(WKDownload*)download
    decideDestinationUsingResponse:(NSURLResponse*)response
                 suggestedFilename:(NSString*)suggestedFilename
                 completionHandler:(void (^)(NSURL* destination))completionHandler {
    corvidale::mac::MacDownload* adopted = _owner != nullptr ? _owner->find(download) : nullptr;
    if (adopted == nullptr || adopted->delegate() == nullptr) {
        // Nobody chose a place: nothing is written anywhere.
        completionHandler(nil);
        return;
    }
    adopted->noteResponse(response);
    adopted->delegate()->decideDestination(
        *adopted, corvidale::mac::toStdString(suggestedFilename),
        Completion<std::optional<std::string>>(
            [completionHandler](std::optional<std::string> path) {
                if (!path) {
                    completionHandler(nil);
                    return;
                }
                NSURL* destination = corvidale::mac::fileURL(*path);
                releasePlaceholder([destination path]);
                completionHandler(destination);
            },
            std::nullopt));
}

- (void)downloadDidFinish:(WKDownload*)download {
    corvidale::mac::MacDownload* adopted = _owner != nullptr ? _owner->find(download) : nullptr;
    if (adopted == nullptr) return;
    if (auto* delegate = adopted->delegate()) delegate->downloadDidFinish(*adopted);
    _owner->forget(download);
}

- (void)download:(WKDownload*)download didFailWithError:(NSError*)error resumeData:(NSData*)resumeData {
    corvidale::mac::MacDownload* adopted = _owner != nullptr ? _owner->find(download) : nullptr;
    if (adopted == nullptr) return;
    if (auto* delegate = adopted->delegate()) {
        delegate->downloadDidFail(*adopted, corvidale::mac::toPlatformError(error));
    }
    _owner->forget(download);
}

// --- WKScriptMessageHandler ------------------------------------------------

- (void)userContentController:(WKUserContentController*)userContentController
      didReceiveScriptMessage:(WKScriptMessage*)message {
    if (_owner == nullptr) return;
    const std::string name = corvidale::mac::toStdString([message name]);
    auto* handler = _owner->messageHandler(name);
    if (handler == nullptr) return;
    corvidale::platform::ScriptMessage received;
    received.name = name;
    WKFrameInfo* frame = [message frameInfo];
    received.fromMainFrame = [frame isMainFrame];
    WKSecurityOrigin* origin = [frame securityOrigin];
    const NSInteger port = [origin port];
    received.securityOrigin = {corvidale::mac::toStdString([origin protocol]), corvidale::mac::toStdString([origin host]),
                               static_cast<int>(port > 0 && port <= 65535 ? port : 0)};
    id body = [message body];
    if ([body isKindOfClass:[NSString class]]) received.textBody = corvidale::mac::toStdString(body);
    handler->didReceiveScriptMessage(received);
}

@end

namespace corvidale::mac {

std::optional<std::uint64_t> MacDownload::expectedLength() const {
    if (coded_) return std::nullopt;
    const int64_t total = [[download_ progress] totalUnitCount];
    // -1: the server named no length. A fresh progress counts 0, which the
    // core takes for no length either.
    if (total < 0) return std::nullopt;
    return static_cast<std::uint64_t>(total);
}

void MacDownload::cancel() { [download_ cancel:nil]; }

std::uint64_t MacDownload::receivedLength() const {
    const int64_t written = [[download_ progress] completedUnitCount];
    return written > 0 ? static_cast<std::uint64_t>(written) : 0;
}

void MacDownload::noteResponse(NSURLResponse* response) {
    if (![response isKindOfClass:[NSHTTPURLResponse class]]) return;
    NSString* coding = [static_cast<NSHTTPURLResponse*>(response) valueForHTTPHeaderField:@"Content-Encoding"];
    coded_ = coding != nil && [coding caseInsensitiveCompare:@"identity"] != NSOrderedSame;
}

MacWebView::MacWebView(const platform::WebViewConfiguration& configuration) {
    delegate_ = [[CVDWebViewDelegate alloc] init];
    [delegate_ setOwner:this];

    // A field left false leaves WebKit's own default in place, so an empty
    // configuration is the platform's default configuration.
    WKWebViewConfiguration* native = [[WKWebViewConfiguration alloc] init];
    if (configuration.persistentDefaultDataStore) [native setWebsiteDataStore:[WKWebsiteDataStore defaultDataStore]];
    if (configuration.javaScriptEnabled) [[native defaultWebpagePreferences] setAllowsContentJavaScript:YES];
    content_ = [native userContentController];
    view_ = [[WKWebView alloc] initWithFrame:NSZeroRect configuration:native];
}

void MacWebView::addScriptMessageHandler(const std::string& name, platform::ScriptMessageHandler& handler) {
    // WebKit raises on a name registered twice.
    if (name.empty() || messageHandlers_.count(name) != 0) return;
    messageHandlers_[name] = &handler;
    [content_ addScriptMessageHandler:delegate_ name:toNSString(name)];
}

void MacWebView::addUserScript(const platform::UserScript& script) {
    WKUserScript* userScript = [[WKUserScript alloc]
          initWithSource:toNSString(script.source)
           injectionTime:script.injectAtDocumentEnd ? WKUserScriptInjectionTimeAtDocumentEnd
                                                    : WKUserScriptInjectionTimeAtDocumentStart
        forMainFrameOnly:script.forMainFrameOnly];
    [content_ addUserScript:userScript];
}

MacWebView::~MacWebView() {
    [delegate_ setOwner:nullptr];
    [view_ setNavigationDelegate:nil];
    [view_ setUIDelegate:nil];
}

void MacWebView::setNavigationDelegate(platform::NavigationDelegate* delegate) {
    navigationDelegate_ = delegate;
    [view_ setNavigationDelegate:delegate != nullptr ? delegate_ : nil];
}

void MacWebView::setUIDelegate(platform::UIDelegate* delegate) {
    uiDelegate_ = delegate;
    [view_ setUIDelegate:delegate != nullptr ? delegate_ : nil];
}

void MacWebView::setAllowsBackForwardNavigationGestures(bool allow) {
    [view_ setAllowsBackForwardNavigationGestures:allow];
}

void MacWebView::setCustomUserAgent(const std::string& userAgent) { [view_ setCustomUserAgent:toNSString(userAgent)]; }

void MacWebView::load(const platform::URLRequest& request) {
    forgetAlternateLoad();
    NSURL* url = [NSURL URLWithString:toNSString(request.url)];
    if (url == nil) return;  // nothing Foundation can request
    const auto policy = request.cachePolicy == platform::CachePolicy::ReloadIgnoringLocalCacheData
                            ? NSURLRequestReloadIgnoringLocalCacheData
                            : NSURLRequestUseProtocolCachePolicy;
    [view_ loadRequest:[NSURLRequest requestWithURL:url cachePolicy:policy timeoutInterval:request.timeoutSeconds]];
}

void MacWebView::reload() {
    forgetAlternateLoad();
    [view_ reload];
}

double MacWebView::pageZoom() const { return [view_ pageZoom]; }

void MacWebView::setPageZoom(double zoom) { [view_ setPageZoom:zoom]; }

std::string MacWebView::url() const { return toStdString([[view_ URL] absoluteString]); }

void MacWebView::loadHTMLString(const std::string& html, const std::string& baseURL) {
    forgetAlternateLoad();
    [view_ loadHTMLString:toNSString(html) baseURL:baseURL.empty() ? nil : [NSURL URLWithString:toNSString(baseURL)]];
}

bool MacWebView::loadAlternateHTMLString(const std::string& html, const std::string& unreachableURL) {
    NSURL* failed = [NSURL URLWithString:toNSString(unreachableURL)];
    alternateLoading_ = true;
    if (failed != nil && [view_ respondsToSelector:@selector(_loadAlternateHTMLString:baseURL:forUnreachableURL:)]) {
        alternateNavigation_ = nil;
        [view_ _loadAlternateHTMLString:toNSString(html) baseURL:nil forUnreachableURL:failed];
        return true;
    }
    // A document of its own: a reload would reload it, not the failed URL.
    alternateNavigation_ = [view_ loadHTMLString:toNSString(html) baseURL:nil];
    return false;
}

bool MacWebView::takeAlternateLoad(WKNavigation* navigation) {
    if (!alternateLoading_ || navigation != alternateNavigation_) return false;
    forgetAlternateLoad();
    return true;
}

void MacWebView::forgetAlternateLoad() {
    alternateLoading_ = false;
    alternateNavigation_ = nil;
}

void MacWebView::evaluateJavaScript(const std::string& script,
                                    std::function<void(platform::ScriptResult)> completion) {
    [view_ evaluateJavaScript:toNSString(script)
            completionHandler:^(id result, NSError* error) {
              platform::ScriptResult answer;
              if (error != nil) {
                  answer.error = toStdString([error description]);
              } else if ([result isKindOfClass:[NSString class]]) {
                  answer.text = toStdString(result);
              }
              if (completion) completion(std::move(answer));
            }];
}

platform::ScriptMessageHandler* MacWebView::messageHandler(const std::string& name) const {
    const auto entry = messageHandlers_.find(name);
    return entry != messageHandlers_.end() ? entry->second : nullptr;
}

MacDownload& MacWebView::adopt(WKDownload* download) {
    auto& slot = downloads_[(__bridge const void*)download];
    if (!slot) slot = std::make_unique<MacDownload>(download, nextDownloadId());
    [download setDelegate:delegate_];
    return *slot;
}

MacDownload* MacWebView::find(WKDownload* download) {
    const auto entry = downloads_.find((__bridge const void*)download);
    return entry != downloads_.end() ? entry->second.get() : nullptr;
}

void MacWebView::forget(WKDownload* download) { downloads_.erase((__bridge const void*)download); }

}  // namespace corvidale::mac
