#pragma once

#import <WebKit/WebKit.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "core/platform/ui_delegate.h"
#include "core/platform/web_view.h"

@class CVDWebViewDelegate;

namespace corvidale::mac {

// A running WKDownload behind the core's Download. Its delegate on the
// WebKit side is always the web view's CVDWebViewDelegate, so that every
// download reports back and is forgotten when it ends; the core's delegate
// is who that object forwards to.
class MacDownload final : public platform::Download {
public:
    MacDownload(WKDownload* download, platform::DownloadId id) : download_(download), id_(id) {}

    platform::DownloadId id() const override { return id_; }
    void setDelegate(platform::DownloadDelegate* delegate) override { delegate_ = delegate; }
    platform::DownloadDelegate* delegate() const { return delegate_; }
    // From the download's progress, which counts bytes.
    std::optional<std::uint64_t> expectedLength() const override;
    std::uint64_t receivedLength() const override;
    void cancel() override;
    // The response the body comes with; a coded body is written decoded, at
    // another length than the one announced.
    void noteResponse(NSURLResponse* response);

private:
    // Keeps the download, and so the identity it is filed under, alive.
    WKDownload* download_;
    platform::DownloadId id_;
    platform::DownloadDelegate* delegate_ = nullptr;
    bool coded_ = false;
};

// A WKWebView behind the core's WebView. Its navigation, UI, download and
// script-message delegate is one CVDWebViewDelegate, which forwards each
// WebKit call to the core's delegates given here.
class MacWebView final : public platform::WebView {
public:
    explicit MacWebView(const platform::WebViewConfiguration& configuration);
    ~MacWebView() override;
    MacWebView(const MacWebView&) = delete;
    MacWebView& operator=(const MacWebView&) = delete;

    void addScriptMessageHandler(const std::string& name, platform::ScriptMessageHandler& handler) override;
    void addUserScript(const platform::UserScript& script) override;
    void setNavigationDelegate(platform::NavigationDelegate* delegate) override;
    void setUIDelegate(platform::UIDelegate* delegate) override;
    void setAllowsBackForwardNavigationGestures(bool allow) override;
    void setCustomUserAgent(const std::string& userAgent) override;
    void load(const platform::URLRequest& request) override;
    void reload() override;
    double pageZoom() const override;
    void setPageZoom(double zoom) override;
    std::string url() const override;
    void loadHTMLString(const std::string& html, const std::string& baseURL) override;
    bool loadAlternateHTMLString(const std::string& html, const std::string& unreachableURL) override;
    void evaluateJavaScript(const std::string& script, std::function<void(platform::ScriptResult)> completion) override;
    // Pages get their Notification API from the shell's script, which the
    // core answers itself: nothing of WebKit's to tell.
    void notificationClicked(std::uint64_t) override {}
    void setNotificationOrigins(const std::vector<std::string>&) override {}

    WKWebView* view() const { return view_; }

    // For CVDWebViewDelegate.
    platform::NavigationDelegate* navigationDelegate() const { return navigationDelegate_; }
    platform::UIDelegate* uiDelegate() const { return uiDelegate_; }
    platform::ScriptMessageHandler* messageHandler(const std::string& name) const;
    MacDownload& adopt(WKDownload* download);
    MacDownload* find(WKDownload* download);
    void forget(WKDownload* download);
    // Whether `navigation` is the load of loadAlternateHTMLString, whose end
    // the core does not hear of; answers true once.
    bool takeAlternateLoad(WKNavigation* navigation);

private:
    // A load of the core's own replaces the alternate page's load, whose end
    // then never comes: the next end is that load's.
    void forgetAlternateLoad();

    WKWebView* view_ = nil;
    CVDWebViewDelegate* delegate_ = nil;
    // The view's scripts and message handlers, also those added after it is made.
    WKUserContentController* content_ = nil;
    platform::NavigationDelegate* navigationDelegate_ = nullptr;
    platform::UIDelegate* uiDelegate_ = nullptr;
    std::unordered_map<std::string, platform::ScriptMessageHandler*> messageHandlers_;
    // Keyed by the WKDownload's identity, from "did become download" until
    // it finishes or fails.
    std::unordered_map<const void*, std::unique_ptr<MacDownload>> downloads_;
    // The alternate page's load while it runs: WebKit gives it no navigation
    // object (nil) when it takes a failed load's place.
    bool alternateLoading_ = false;
    WKNavigation* alternateNavigation_ = nil;
};

}  // namespace corvidale::mac
