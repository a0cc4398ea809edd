// Force-included into every Objective-C++ file of the macOS type-check.
// Declares, with the macOS SDK's signatures, what GNUstep's Foundation and
// AppKit lack. A compile net, not the SDK: nothing here is ever linked.
#pragma once

#ifdef __OBJC__

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

// SDK-style availability: API_AVAILABLE(macos(11.3)).
#define API_AVAILABLE(platform_version) CVD_AVAILABLE_##platform_version
#define CVD_AVAILABLE_macos(version) __attribute__((availability(macos, introduced = version)))

// --- Dispatch (no <dispatch/dispatch.h> on Linux) ---------------------------
@protocol OS_dispatch_queue <NSObject>
@end
typedef NSObject<OS_dispatch_queue>* dispatch_queue_t;
typedef uint64_t dispatch_time_t;
typedef void (^dispatch_block_t)(void);
#define DISPATCH_TIME_NOW (0ull)
#define NSEC_PER_SEC 1000000000ull
extern "C" {
dispatch_queue_t dispatch_get_main_queue(void);
void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);
void dispatch_after(dispatch_time_t when, dispatch_queue_t queue, dispatch_block_t block);
dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta);
}

// --- Foundation -------------------------------------------------------------
@interface NSHTTPURLResponse (CVDNet)
- (NSString*)valueForHTTPHeaderField:(NSString*)field API_AVAILABLE(macos(10.15));
@end

typedef NS_OPTIONS(NSUInteger, NSFileManagerItemReplacementOptions) {
    NSFileManagerItemReplacementUsingNewMetadataOnly = 1UL << 0,
    NSFileManagerItemReplacementWithoutDeletingBackupItem = 1UL << 1,
};

@interface NSFileManager (CVDNet)
- (NSArray<NSURL*>*)URLsForDirectory:(NSSearchPathDirectory)directory inDomains:(NSSearchPathDomainMask)domainMask;
- (BOOL)replaceItemAtURL:(NSURL*)originalItemURL
           withItemAtURL:(NSURL*)newItemURL
          backupItemName:(NSString*)backupItemName
                 options:(NSFileManagerItemReplacementOptions)options
        resultingItemURL:(NSURL**)resultingURL
                   error:(NSError**)error;
@end

@interface NSTask (CVDNet)
@property(copy) NSURL* executableURL;
- (BOOL)launchAndReturnError:(NSError**)error;
@end

// GNUstep builds without NSURLSession; this is the subset the shell uses.
@interface NSURLSessionTask : NSObject
- (void)resume;
- (void)cancel;
@end
@interface NSURLSessionDataTask : NSURLSessionTask
@end
@interface NSURLSessionDownloadTask : NSURLSessionTask
@end
@interface NSURLSession : NSObject
@property(class, readonly, strong) NSURLSession* sharedSession;
- (NSURLSessionDataTask*)dataTaskWithRequest:(NSURLRequest*)request
                           completionHandler:(void (^)(NSData* data, NSURLResponse* response,
                                                       NSError* error))completionHandler;
- (NSURLSessionDownloadTask*)downloadTaskWithRequest:(NSURLRequest*)request
                                   completionHandler:(void (^)(NSURL* location, NSURLResponse* response,
                                                               NSError* error))completionHandler;
@end

// --- AppKit -----------------------------------------------------------------
typedef NSInteger NSModalResponse;

@interface NSApplication (CVDNet)
@property(strong) NSAppearance* appearance;
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
// The successor of activateIgnoringOtherApps:, declared so that calling it
// unguarded on macOS 13 fails the check.
- (void)activate API_AVAILABLE(macos(14.0));
@end

@interface NSAlert (CVDNet)
@property(strong) NSView* accessoryView;
- (void)beginSheetModalForWindow:(NSWindow*)sheetWindow completionHandler:(void (^)(NSModalResponse returnCode))handler;
@end

@interface NSButton (CVDNet)
+ (instancetype)checkboxWithTitle:(NSString*)title target:(id)target action:(SEL)action;
@end

@interface NSWorkspace (CVDNet)
- (void)activateFileViewerSelectingURLs:(NSArray<NSURL*>*)fileURLs;
@end

#endif  // __OBJC__
