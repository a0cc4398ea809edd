#include <gtest/gtest.h>

#include "core/app/delegate.h"
#include "core/web/navigation_policy.h"
#include "fake_platform.h"

namespace corvidale {
namespace {

using platform::NavigationAction;
using platform::NavigationActionPolicy;
using platform::NavigationResponse;
using platform::NavigationResponsePolicy;
using platform::NavigationType;
using testing::FakePlatform;

class NavigationPolicy : public ::testing::Test {
protected:
    void SetUp() override {
        p.env["CORVIDALE_ORIGIN"] = "https://app.example.com:8443/home";
        delegate.applicationDidFinishLaunching();
        p.calls.clear();
    }

    NavigationActionPolicy decide(NavigationAction action) {
        std::optional<NavigationActionPolicy> answer;
        int calls = 0;
        delegate.decidePolicyForNavigationAction(
            action, platform::Completion<NavigationActionPolicy>(
                        [&](NavigationActionPolicy policy) {
                            answer = policy;
                            ++calls;
                        },
                        NavigationActionPolicy::Allow));
        EXPECT_EQ(calls, 1) << "answered synchronously, exactly once";
        return answer.value_or(NavigationActionPolicy::Allow);
    }

    NavigationActionPolicy link(const std::string& url) { return decide({NavigationType::LinkActivated, url, false}); }

    FakePlatform p;
    Delegate delegate{p};
};

TEST_F(NavigationPolicy, LinksStayOnlyForTheOriginHostAndTheSignInHosts) {
    EXPECT_EQ(link("https://app.example.com:8443/other"), NavigationActionPolicy::Allow);
    EXPECT_EQ(link("http://app.example.com/plain"), NavigationActionPolicy::Allow) << "scheme plays no part";
    EXPECT_EQ(link("https://app.example.com:9999/"), NavigationActionPolicy::Allow) << "port plays no part";
    for (const auto host : kSignInHosts) {
        EXPECT_EQ(link("https://" + std::string(host) + "/signin"), NavigationActionPolicy::Allow) << host;
    }
    EXPECT_TRUE(p.openedURLs.empty());

    const std::vector<std::string> foreign = {
        "https://sub.app.example.com/", "https://example.com/", "https://APP.EXAMPLE.COM/",
        "https://mail.google.com/",     "https://www.apple.com/", "https://app.example.com.evil.test/",
    };
    for (const auto& url : foreign) EXPECT_EQ(link(url), NavigationActionPolicy::Cancel) << url;
    EXPECT_EQ(p.openedURLs, foreign);
}

TEST_F(NavigationPolicy, OnlyLinkActivationsAreJudgedByHost) {
    for (auto type : {NavigationType::FormSubmitted, NavigationType::BackForward, NavigationType::Reload,
                      NavigationType::FormResubmitted, NavigationType::Other}) {
        EXPECT_EQ(decide({type, std::string("https://elsewhere.test/"), false}), NavigationActionPolicy::Allow);
    }
    EXPECT_EQ(decide({NavigationType::LinkActivated, std::nullopt, false}), NavigationActionPolicy::Allow);
    EXPECT_EQ(link("blob:https://app.example.com/1234"), NavigationActionPolicy::Allow);
    EXPECT_EQ(link("about:blank"), NavigationActionPolicy::Allow);
    EXPECT_TRUE(p.openedURLs.empty());
    // Mail goes to the mail application; a host our parser can't read is foreign.
    EXPECT_EQ(link("mailto:someone@example.com"), NavigationActionPolicy::Cancel);
    EXPECT_EQ(link("https://evil$.test/"), NavigationActionPolicy::Cancel);
    EXPECT_EQ(link("https://evil.test/#" + std::string(9 << 20, 'A')), NavigationActionPolicy::Cancel);
    EXPECT_EQ(p.openedURLs, std::vector<std::string>{"mailto:someone@example.com"});
}

TEST_F(NavigationPolicy, DownloadRequestsWinOverEverything) {
    EXPECT_EQ(decide({NavigationType::LinkActivated, std::string("https://elsewhere.test/f.zip"), true}),
              NavigationActionPolicy::Download);
    EXPECT_EQ(decide({NavigationType::Other, std::string("blob:https://app.example.com/x"), true}),
              NavigationActionPolicy::Download);
    EXPECT_TRUE(p.openedURLs.empty());
}

TEST_F(NavigationPolicy, UnsafeSchemesAreCancelledWithoutBeingOpened) {
    for (const std::string url : {"smb://server/share", "nfs://server/export", "custom-app://do/something",
                                  "ftp://files.example/"}) {
        EXPECT_EQ(link(url), NavigationActionPolicy::Cancel) << url;
    }
    EXPECT_TRUE(p.openedURLs.empty());
    for (const std::string url : {"file:///etc/passwd", "smb://server/share", "javascript:alert(1)", "custom:thing"}) {
        EXPECT_FALSE(delegate.createWebViewForNavigationAction({NavigationType::Other, url, false}));
    }
    EXPECT_TRUE(p.openedURLs.empty());
    EXPECT_TRUE(isSafeToOpenExternally("mailto:a@b.c"));
    EXPECT_FALSE(isSafeToOpenExternally("https:///nohost"));
}

TEST_F(NavigationPolicy, NewWindowRequestsAlwaysGoToTheBrowser) {
    EXPECT_FALSE(delegate.createWebViewForNavigationAction(
        {NavigationType::LinkActivated, std::string("https://app.example.com:8443/popup"), false}));
    EXPECT_FALSE(delegate.createWebViewForNavigationAction(
        {NavigationType::Other, std::string("https://accounts.google.com/"), false}));
    EXPECT_FALSE(delegate.createWebViewForNavigationAction({NavigationType::Other, std::nullopt, false}));
    EXPECT_EQ(p.openedURLs,
              (std::vector<std::string>{"https://app.example.com:8443/popup", "https://accounts.google.com/"}));
    EXPECT_EQ(p.webViewsCreated, 1) << "no second web view";
}

TEST(NavigationResponsePolicy, AttachmentsAndUnshowableTypesBecomeDownloads) {
    auto http = [](std::optional<std::string> disposition, bool showable = true) {
        return decideNavigationResponse({true, std::move(disposition), showable});
    };
    EXPECT_EQ(http(std::nullopt), NavigationResponsePolicy::Allow);
    EXPECT_EQ(http("inline"), NavigationResponsePolicy::Allow);
    EXPECT_EQ(http("inline; filename=\"attachment.pdf\""), NavigationResponsePolicy::Allow);
    EXPECT_EQ(http("attachment"), NavigationResponsePolicy::Download);
    EXPECT_EQ(http("ATTACHMENT; filename=a.txt"), NavigationResponsePolicy::Download);
    EXPECT_EQ(http("AttachMent;filename*=UTF-8''x"), NavigationResponsePolicy::Download);
    EXPECT_EQ(http(" attachment"), NavigationResponsePolicy::Allow) << "a plain prefix test, no trimming";
    EXPECT_EQ(http("inline", false), NavigationResponsePolicy::Download);
    EXPECT_EQ(decideNavigationResponse({false, std::nullopt, true}), NavigationResponsePolicy::Allow);
    EXPECT_EQ(decideNavigationResponse({false, std::string("attachment"), true}), NavigationResponsePolicy::Allow)
        << "only HTTP responses carry a disposition";
    EXPECT_EQ(decideNavigationResponse({false, std::nullopt, false}), NavigationResponsePolicy::Download);
}

class FakeDownload : public platform::Download {
public:
    explicit FakeDownload(platform::DownloadId downloadId) : id_(downloadId) {}
    platform::DownloadId id() const override { return id_; }
    void setDelegate(platform::DownloadDelegate* delegate) override { delegate_ = delegate; }
    platform::DownloadDelegate* delegate_ = nullptr;

private:
    platform::DownloadId id_;
};

TEST_F(NavigationPolicy, NewDownloadsGetTheDelegate) {
    FakeDownload fromAction(1), fromResponse(2);
    delegate.navigationActionDidBecomeDownload(fromAction);
    delegate.navigationResponseDidBecomeDownload(fromResponse);
    EXPECT_EQ(fromAction.delegate_, &delegate);
    EXPECT_EQ(fromResponse.delegate_, &delegate);
    EXPECT_TRUE(delegate.downloads.empty());
}

TEST_F(NavigationPolicy, FinishedNavigationStartsTheDownloadSelfTestOnceWhenSwitchedOn) {
    delegate.didFinishNavigation();
    EXPECT_FALSE(delegate.ranDownloadSelfTest);
    EXPECT_TRUE(p.lastWebView->evaluations.empty());

    p.stored["downloadSelfTest"] = "YES";
    delegate.didFinishNavigation();
    delegate.didFinishNavigation();
    EXPECT_TRUE(delegate.ranDownloadSelfTest);
    EXPECT_EQ(p.lastWebView->evaluations.size(), 1u);
}

}  // namespace
}  // namespace corvidale
