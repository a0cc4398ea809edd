// The WebKit API the shell uses, declared after Apple's public documentation
// with the macOS release each piece arrived in, so that a call newer than the
// deployment target fails the type-check unless it is guarded. A compile net,
// not the SDK: only what src/mac calls is here, and the web view's own
// actions, which the menu-action check holds the shell's menu apart from.
#pragma once

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

@class WKWebView;
@class WKDownload;
@class WKUserContentController;
@class WKWebViewConfiguration;

typedef NS_ENUM(NSInteger, WKNavigationActionPolicy) {
    WKNavigationActionPolicyCancel,
    WKNavigationActionPolicyAllow,
    WKNavigationActionPolicyDownload API_AVAILABLE(macos(11.3)),
};

typedef NS_ENUM(NSInteger, WKNavigationResponsePolicy) {
    WKNavigationResponsePolicyCancel,
    WKNavigationResponsePolicyAllow,
    WKNavigationResponsePolicyDownload API_AVAILABLE(macos(11.3)),
};

typedef NS_ENUM(NSInteger, WKNavigationType) {
    WKNavigationTypeLinkActivated,
    WKNavigationTypeFormSubmitted,
    WKNavigationTypeBackForward,
    WKNavigationTypeReload,
    WKNavigationTypeFormResubmitted,
    WKNavigationTypeOther = -1,
};

typedef NS_ENUM(NSInteger, WKUserScriptInjectionTime) {
    WKUserScriptInjectionTimeAtDocumentStart,
    WKUserScriptInjectionTimeAtDocumentEnd,
};

typedef NS_ENUM(NSInteger, WKMediaCaptureType) {
    WKMediaCaptureTypeCamera,
    WKMediaCaptureTypeMicrophone,
    WKMediaCaptureTypeCameraAndMicrophone,
} API_AVAILABLE(macos(12.0));

typedef NS_ENUM(NSInteger, WKPermissionDecision) {
    WKPermissionDecisionPrompt,
    WKPermissionDecisionGrant,
    WKPermissionDecisionDeny,
} API_AVAILABLE(macos(12.0));

@interface WKSecurityOrigin : NSObject
@property(nonatomic, readonly, copy) NSString* protocol;
@property(nonatomic, readonly, copy) NSString* host;
@property(nonatomic, readonly) NSInteger port;
@end

@interface WKFrameInfo : NSObject <NSCopying>
@property(nonatomic, readonly, getter=isMainFrame) BOOL mainFrame;
@property(nonatomic, readonly) WKSecurityOrigin* securityOrigin;
@end

@interface WKNavigation : NSObject
@end

@interface WKNavigationAction : NSObject
@property(nonatomic, readonly, copy) WKFrameInfo* sourceFrame;
@property(nonatomic, readonly) WKNavigationType navigationType;
@property(nonatomic, readonly, copy) NSURLRequest* request;
@property(nonatomic, readonly) BOOL shouldPerformDownload API_AVAILABLE(macos(11.3));
@end

@interface WKNavigationResponse : NSObject
@property(nonatomic, readonly, getter=isForMainFrame) BOOL forMainFrame;
@property(nonatomic, readonly, copy) NSURLResponse* response;
@property(nonatomic, readonly) BOOL canShowMIMEType;
@end

@interface WKWindowFeatures : NSObject
@end

@interface WKOpenPanelParameters : NSObject
@property(nonatomic, readonly) BOOL allowsDirectories;
@property(nonatomic, readonly) BOOL allowsMultipleSelection;
@end

@interface WKWebsiteDataStore : NSObject
+ (WKWebsiteDataStore*)defaultDataStore;
@end

API_AVAILABLE(macos(10.15))
@interface WKWebpagePreferences : NSObject
@property(nonatomic) BOOL allowsContentJavaScript API_AVAILABLE(macos(11.0));
@end

@interface WKUserScript : NSObject <NSCopying>
- (instancetype)initWithSource:(NSString*)source
                 injectionTime:(WKUserScriptInjectionTime)injectionTime
              forMainFrameOnly:(BOOL)forMainFrameOnly;
@end

@interface WKScriptMessage : NSObject
@property(nonatomic, readonly, copy) id body;
@property(nonatomic, readonly, copy) WKFrameInfo* frameInfo;
@property(nonatomic, readonly, copy) NSString* name;
@end

@protocol WKScriptMessageHandler <NSObject>
@required
- (void)userContentController:(WKUserContentController*)userContentController
      didReceiveScriptMessage:(WKScriptMessage*)message;
@end

@interface WKUserContentController : NSObject
- (void)addUserScript:(WKUserScript*)userScript;
- (void)addScriptMessageHandler:(id<WKScriptMessageHandler>)scriptMessageHandler name:(NSString*)name;
@end

@interface WKWebViewConfiguration : NSObject <NSCopying>
@property(nonatomic, strong) WKWebsiteDataStore* websiteDataStore;
@property(nonatomic, strong) WKUserContentController* userContentController;
@property(nonatomic, copy) WKWebpagePreferences* defaultWebpagePreferences API_AVAILABLE(macos(10.15));
@end

API_AVAILABLE(macos(11.3))
@protocol WKDownloadDelegate <NSObject>
@required
- (void)download:(WKDownload*)download
    decideDestinationUsingResponse:(NSURLResponse*)response
                 suggestedFilename:(NSString*)suggestedFilename
                 completionHandler:(void (^)(NSURL* destination))completionHandler;
@optional
- (void)downloadDidFinish:(WKDownload*)download;
- (void)download:(WKDownload*)download didFailWithError:(NSError*)error resumeData:(NSData*)resumeData;
@end

// Its progress counts bytes: totalUnitCount is the announced length (-1
// when unknown), completedUnitCount what was written so far.
API_AVAILABLE(macos(11.3))
@interface WKDownload : NSObject <NSProgressReporting>
@property(nonatomic, weak) id<WKDownloadDelegate> delegate;
- (void)cancel:(void (^_Nullable)(NSData* _Nullable resumeData))completionHandler;
@end

@protocol WKNavigationDelegate <NSObject>
@optional
- (void)webView:(WKWebView*)webView
    decidePolicyForNavigationAction:(WKNavigationAction*)navigationAction
                    decisionHandler:(void (^)(WKNavigationActionPolicy))decisionHandler;
- (void)webView:(WKWebView*)webView
    decidePolicyForNavigationResponse:(WKNavigationResponse*)navigationResponse
                      decisionHandler:(void (^)(WKNavigationResponsePolicy))decisionHandler;
- (void)webView:(WKWebView*)webView didFinishNavigation:(WKNavigation*)navigation;
- (void)webView:(WKWebView*)webView
    didFailProvisionalNavigation:(WKNavigation*)navigation
                       withError:(NSError*)error;
- (void)webView:(WKWebView*)webView didFailNavigation:(WKNavigation*)navigation withError:(NSError*)error;
- (void)webViewWebContentProcessDidTerminate:(WKWebView*)webView;
- (void)webView:(WKWebView*)webView
     navigationAction:(WKNavigationAction*)navigationAction
    didBecomeDownload:(WKDownload*)download API_AVAILABLE(macos(11.3));
- (void)webView:(WKWebView*)webView
    navigationResponse:(WKNavigationResponse*)navigationResponse
     didBecomeDownload:(WKDownload*)download API_AVAILABLE(macos(11.3));
@end

@protocol WKUIDelegate <NSObject>
@optional
- (WKWebView*)webView:(WKWebView*)webView
    createWebViewWithConfiguration:(WKWebViewConfiguration*)configuration
               forNavigationAction:(WKNavigationAction*)navigationAction
                    windowFeatures:(WKWindowFeatures*)windowFeatures;
- (void)webView:(WKWebView*)webView
    runJavaScriptAlertPanelWithMessage:(NSString*)message
                      initiatedByFrame:(WKFrameInfo*)frame
                     completionHandler:(void (^)(void))completionHandler;
- (void)webView:(WKWebView*)webView
    runJavaScriptConfirmPanelWithMessage:(NSString*)message
                        initiatedByFrame:(WKFrameInfo*)frame
                       completionHandler:(void (^)(BOOL result))completionHandler;
- (void)webView:(WKWebView*)webView
    runJavaScriptTextInputPanelWithPrompt:(NSString*)prompt
                              defaultText:(NSString*)defaultText
                         initiatedByFrame:(WKFrameInfo*)frame
                        completionHandler:(void (^)(NSString* result))completionHandler;
- (void)webView:(WKWebView*)webView
    runOpenPanelWithParameters:(WKOpenPanelParameters*)parameters
              initiatedByFrame:(WKFrameInfo*)frame
             completionHandler:(void (^)(NSArray<NSURL*>* URLs))completionHandler;
- (void)webView:(WKWebView*)webView
    requestMediaCapturePermissionForOrigin:(WKSecurityOrigin*)origin
                          initiatedByFrame:(WKFrameInfo*)frame
                                      type:(WKMediaCaptureType)type
                           decisionHandler:(void (^)(WKPermissionDecision decision))decisionHandler
    API_AVAILABLE(macos(12.0));
@end

@interface WKWebView : NSView
- (instancetype)initWithFrame:(NSRect)frame configuration:(WKWebViewConfiguration*)configuration;
@property(nonatomic, weak) id<WKNavigationDelegate> navigationDelegate;
@property(nonatomic, weak) id<WKUIDelegate> UIDelegate;
@property(nonatomic, readonly, copy) NSURL* URL;
@property(nonatomic) BOOL allowsBackForwardNavigationGestures;
@property(nonatomic, copy) NSString* customUserAgent;
@property(nonatomic) CGFloat pageZoom API_AVAILABLE(macos(11.0));
- (WKNavigation*)loadRequest:(NSURLRequest*)request;
- (WKNavigation*)reload;
- (WKNavigation*)loadHTMLString:(NSString*)string baseURL:(NSURL*)baseURL;
- (void)evaluateJavaScript:(NSString*)javaScriptString completionHandler:(void (^)(id result, NSError* error))completionHandler;
// Not called by the shell: what else the view answers, for the menu-action
// check (a menu item's action reaches the focused web view first).
- (WKNavigation*)goBack;
- (WKNavigation*)goForward;
- (WKNavigation*)reloadFromOrigin;
- (void)stopLoading;
@property(nonatomic) BOOL allowsMagnification;
@property(nonatomic) CGFloat magnification;
@end

// The view's own menu actions (WKWebView.h, WKIBActions).
@interface WKWebView (WKIBActions)
- (IBAction)goBack:(id)sender;
- (IBAction)goForward:(id)sender;
- (IBAction)reload:(id)sender;
- (IBAction)reloadFromOrigin:(id)sender;
- (IBAction)stopLoading:(id)sender;
@end
