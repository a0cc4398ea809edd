// Force-included into every Objective-C++ file of the macOS type-check.
// Declares, with the macOS SDK's signatures, what GNUstep's Foundation and
// AppKit lack. A compile net, not the SDK: nothing here is ever linked.
#pragma once
// Read as the SDK's headers are, as a system header: nullability may be
// given where the SDK gives it without being spelled on every pointer.
#pragma clang system_header

#ifdef __OBJC__

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

// SDK-style availability: API_AVAILABLE(macos(11.3)).
#define API_AVAILABLE(platform_version) CVD_AVAILABLE_##platform_version
#define CVD_AVAILABLE_macos(version) __attribute__((availability(macos, introduced = version)))
// SDK-style deprecation: API_DEPRECATED("message", macos(10.6, 15.4)), or
// with API_TO_BE_DEPRECATED for "some later release". It bites once the
// deployment target reaches that release; scripts/mac-check.sh also checks
// for the newest one.
#define API_DEPRECATED(text, platform_versions) \
    __attribute__((availability(CVD_DEPRECATED_##platform_versions, message = text)))
#define CVD_DEPRECATED_macos(since, until) macos, introduced = since, deprecated = until
#define API_TO_BE_DEPRECATED 100000

// --- Dispatch (no <dispatch/dispatch.h> on Linux) ---------------------------
@protocol OS_dispatch_queue <NSObject>
@end
@protocol OS_dispatch_queue_global <OS_dispatch_queue>
@end
@protocol OS_dispatch_semaphore <NSObject>
@end
typedef NSObject<OS_dispatch_queue>* dispatch_queue_t;
typedef NSObject<OS_dispatch_queue_global>* dispatch_queue_global_t;
typedef NSObject<OS_dispatch_semaphore>* dispatch_semaphore_t;
typedef uint64_t dispatch_time_t;
typedef void (^dispatch_block_t)(void);
#define DISPATCH_TIME_NOW (0ull)
#define DISPATCH_TIME_FOREVER (~0ull)
#define DISPATCH_QUEUE_PRIORITY_DEFAULT 0
#define NSEC_PER_SEC 1000000000ull
#define NSEC_PER_MSEC 1000000ull
extern "C" {
dispatch_queue_t dispatch_get_main_queue(void);
dispatch_queue_global_t dispatch_get_global_queue(intptr_t identifier, uintptr_t flags);
void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);
void dispatch_after(dispatch_time_t when, dispatch_queue_t queue, dispatch_block_t block);
dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta);
dispatch_semaphore_t dispatch_semaphore_create(intptr_t value);
intptr_t dispatch_semaphore_wait(dispatch_semaphore_t dsema, dispatch_time_t timeout);
intptr_t dispatch_semaphore_signal(dispatch_semaphore_t dsema);
}

// --- Core Foundation's run loop (GNUstep has no CoreFoundation) -------------
typedef const void* CFTypeRef;
typedef const struct __CFString* CFStringRef;
typedef struct __CFRunLoop* CFRunLoopRef;
extern "C" {
extern const CFStringRef kCFRunLoopCommonModes;
CFRunLoopRef CFRunLoopGetMain(void);
void CFRunLoopPerformBlock(CFRunLoopRef rl, CFTypeRef mode, void (^block)(void)) API_AVAILABLE(macos(10.6));
void CFRunLoopWakeUp(CFRunLoopRef rl);
}

// --- Foundation -------------------------------------------------------------
// The string form of the failing URL; the URL key beside it says the same.
extern "C" NSString* const NSURLErrorFailingURLStringErrorKey
    API_DEPRECATED("Use NSURLErrorFailingURLErrorKey instead", macos(10.6, 15.4));

@interface NSHTTPURLResponse (CVDNet)
- (NSString*)valueForHTTPHeaderField:(NSString*)field API_AVAILABLE(macos(10.15));
@end

// Options that the shell never passes are left out, as their values.
typedef NSUInteger NSDataReadingOptions;

@interface NSData (CVDNet)
+ (instancetype)dataWithContentsOfURL:(NSURL*)url options:(NSDataReadingOptions)readOptionsMask error:(NSError**)errorPtr;
@end

typedef NSUInteger NSFileManagerItemReplacementOptions;

@interface NSFileManager (CVDNet)
@property(readonly, copy) NSURL* temporaryDirectory API_AVAILABLE(macos(10.12));
- (NSArray<NSURL*>*)URLsForDirectory:(NSSearchPathDirectory)directory inDomains:(NSSearchPathDomainMask)domainMask;
- (BOOL)replaceItemAtURL:(NSURL*)originalItemURL
           withItemAtURL:(NSURL*)newItemURL
          backupItemName:(NSString*)backupItemName
                 options:(NSFileManagerItemReplacementOptions)options
        resultingItemURL:(NSURL**)resultingURL
                   error:(NSError**)error;
@end

// GNUstep builds without NSURLSession; this is the subset the shell uses: a
// session of its own with a delegate and a delegate queue, and tasks without
// completion handlers, whose events all go to that delegate.
@class NSURLSession;
@class NSURLSessionTask;
@class NSURLSessionDataTask;

typedef NS_ENUM(NSInteger, NSURLSessionResponseDisposition) {
    NSURLSessionResponseCancel = 0,
    NSURLSessionResponseAllow = 1,
    NSURLSessionResponseBecomeDownload = 2,
    NSURLSessionResponseBecomeStream = 3,
};

@protocol NSURLSessionDelegate <NSObject>
@end
@protocol NSURLSessionTaskDelegate <NSURLSessionDelegate>
@optional
- (void)URLSession:(NSURLSession*)session
                          task:(NSURLSessionTask*)task
    willPerformHTTPRedirection:(NSHTTPURLResponse*)response
                    newRequest:(NSURLRequest*)request
             completionHandler:(void (^)(NSURLRequest*))completionHandler;
- (void)URLSession:(NSURLSession*)session task:(NSURLSessionTask*)task didCompleteWithError:(NSError*)error;
@end
@protocol NSURLSessionDataDelegate <NSURLSessionTaskDelegate>
@optional
- (void)URLSession:(NSURLSession*)session
              dataTask:(NSURLSessionDataTask*)dataTask
    didReceiveResponse:(NSURLResponse*)response
     completionHandler:(void (^)(NSURLSessionResponseDisposition disposition))completionHandler;
- (void)URLSession:(NSURLSession*)session dataTask:(NSURLSessionDataTask*)dataTask didReceiveData:(NSData*)data;
@end

@interface NSURLSessionTask : NSObject
@property(readonly) NSUInteger taskIdentifier;
@property(readonly, copy) NSURLResponse* response;
@property(readonly) int64_t countOfBytesExpectedToReceive;
- (void)resume;
- (void)cancel;
@end
@interface NSURLSessionDataTask : NSURLSessionTask
@end
@interface NSURLSessionConfiguration : NSObject <NSCopying>
@property(class, readonly, strong) NSURLSessionConfiguration* defaultSessionConfiguration;
@end
@interface NSURLSession : NSObject
+ (NSURLSession*)sessionWithConfiguration:(NSURLSessionConfiguration*)configuration
                                 delegate:(id<NSURLSessionDelegate> _Nullable)delegate
                            delegateQueue:(NSOperationQueue* _Nullable)queue;
- (NSURLSessionDataTask*)dataTaskWithRequest:(NSURLRequest*)request;
- (void)invalidateAndCancel;
@end

// --- AppKit -----------------------------------------------------------------
typedef NSInteger NSModalResponse;

@interface NSApplication (CVDNet)
@property(strong) NSAppearance* appearance;
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
// The successor of activateIgnoringOtherApps:, declared so that calling it
// unguarded on macOS 13 fails the check.
- (void)activate API_AVAILABLE(macos(14.0));
@property(readonly, strong) NSDockTile* dockTile;
@end

@interface NSView (CVDNet)
- (void)setAccessibilityLabel:(NSString* _Nullable)accessibilityLabel;
@end

@interface NSAlert (CVDNet)
@property(strong) NSView* accessoryView;
- (void)beginSheetModalForWindow:(NSWindow*)sheetWindow
              completionHandler:(void (^_Nullable)(NSModalResponse returnCode))handler API_AVAILABLE(macos(10.9));
@end

@interface NSButton (CVDNet)
+ (instancetype)checkboxWithTitle:(NSString*)title target:(id)target action:(SEL)action;
@end

@interface NSWorkspace (CVDNet)
- (void)activateFileViewerSelectingURLs:(NSArray<NSURL*>*)fileURLs;
@end

#endif  // __OBJC__
