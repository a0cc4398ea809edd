#include "url_session.h"

#import <Foundation/Foundation.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "core/util/transfer_file.h"
#include "ns_text.h"

namespace {

// NSURLRequest's own default, for a request that names no usable timeout.
constexpr double kDefaultTimeoutSeconds = 60;
// A session gives up on a whole resource after seven days by default;
// nothing here waits longer, and no deadline overflows the clock.
constexpr double kLongestWaitSeconds = 7 * 24 * 3600.0;
// How often a waiting caller looks at its deadline and the transfer's pace.
constexpr int64_t kWatchSliceNanoseconds = 250 * static_cast<int64_t>(NSEC_PER_MSEC);

bool isWebScheme(NSString* scheme) {
    NSString* lower = [scheme lowercaseString];  // nil stays nil, which is neither
    return [lower isEqualToString:@"http"] || [lower isEqualToString:@"https"];
}

NSError* transferError(NSInteger code, NSString* text, NSURL* url) {
    NSMutableDictionary* info = [NSMutableDictionary dictionaryWithObject:text forKey:NSLocalizedDescriptionKey];
    if (url != nil) {
        [info setObject:url forKey:NSURLErrorFailingURLErrorKey];
    }
    return [NSError errorWithDomain:NSURLErrorDomain code:code userInfo:info];
}

}  // namespace

// One task's events and outcome. The session's router hands it the task's
// events on the session's delegate queue; the caller waits on `finished` and
// reads the outcome only after it was signalled, so the two never touch the
// same value at once (apart from the byte count, which is atomic).
@interface CVDTransfer : NSObject <NSURLSessionDataDelegate>
- (instancetype)initWithMaxBytes:(uint64_t)maxBytes;
// Signalled once, when the task has ended.
@property(readonly) dispatch_semaphore_t finished;
@property(readonly) NSURLResponse* response;
@property(readonly) NSError* error;
// The server sent the request on to something other than http or https.
@property(readonly) BOOL redirectRefused;
@property(readonly) NSURL* refusedLocation;
// The body was longer than allowed; the task was cancelled for it.
@property(readonly) BOOL exceeded;
// Body bytes so far; safe from any thread.
- (uint64_t)receivedBytes;
// For the subclasses, as the body arrives: marks the transfer as exceeded
// and answers YES when `bytes` are more than allowed.
- (BOOL)marksExceeded:(uint64_t)bytes;
- (void)noteReceived:(uint64_t)bytes;
@end

@implementation CVDTransfer {
    uint64_t _maxBytes;  // 0: any number
    std::atomic<uint64_t> _received;
}

- (instancetype)initWithMaxBytes:(uint64_t)maxBytes {
    if ((self = [super init])) {
        _maxBytes = maxBytes;
        _received.store(0);
        _finished = dispatch_semaphore_create(0);
    }
    return self;
}

- (uint64_t)receivedBytes {
    return _received.load();
}

- (BOOL)marksExceeded:(uint64_t)bytes {
    if (_maxBytes == 0 || bytes <= _maxBytes) return NO;
    _exceeded = YES;
    return YES;
}

- (void)noteReceived:(uint64_t)bytes {
    _received.store(bytes);
}

- (void)URLSession:(NSURLSession*)session
                          task:(NSURLSessionTask*)task
    willPerformHTTPRedirection:(NSHTTPURLResponse*)response
                    newRequest:(NSURLRequest*)request
             completionHandler:(void (^)(NSURLRequest*))completionHandler {
    if (isWebScheme([[request URL] scheme])) {
        completionHandler(request);
        return;
    }
    // A file on this machine, or a data: URL carrying a body of the server's
    // choosing, is never fetched on a server's word. Declining alone would
    // answer with the redirect's own response, so the task is also ended and
    // the caller told it failed.
    _redirectRefused = YES;
    _refusedLocation = [request URL];
    [task cancel];
    completionHandler(nil);
}

- (void)URLSession:(NSURLSession*)session
              dataTask:(NSURLSessionDataTask*)dataTask
    didReceiveResponse:(NSURLResponse*)response
     completionHandler:(void (^)(NSURLSessionResponseDisposition))completionHandler {
    // A body announced as too long is refused before any of it arrives.
    const long long announced = [response expectedContentLength];
    if (announced > 0 && [self marksExceeded:static_cast<uint64_t>(announced)]) {
        completionHandler(NSURLSessionResponseCancel);
        return;
    }
    completionHandler(NSURLSessionResponseAllow);
}

- (void)URLSession:(NSURLSession*)session task:(NSURLSessionTask*)task didCompleteWithError:(NSError*)error {
    _response = [task response];
    _error = error;
    dispatch_semaphore_signal(_finished);
}

@end

// A body into memory.
@interface CVDDataTransfer : CVDTransfer
// The body received; handed over once.
- (std::string)takeBody;
@end

@implementation CVDDataTransfer {
    std::string _body;
}

- (std::string)takeBody {
    return std::move(_body);
}

- (void)URLSession:(NSURLSession*)session dataTask:(NSURLSessionDataTask*)dataTask didReceiveData:(NSData*)data {
    const NSUInteger length = [data length];
    if ([self exceeded] || length == 0) return;
    const uint64_t total = _body.size() + length;
    if ([self marksExceeded:total]) {
        // Cut off while it arrives: nothing more than allowed is ever held.
        std::string().swap(_body);
        [dataTask cancel];
        return;
    }
    _body.append(static_cast<const char*>([data bytes]), length);
    [self noteReceived:total];
}

@end

// A body into a file of the caller's, made before the request goes out and
// written as the body arrives, the way the Linux session writes it: a
// download task would first write into a place of the system's, which a
// killed process leaves behind where no clean-up of ours looks.
@interface CVDDownloadTransfer : CVDTransfer
- (instancetype)initWithFile:(std::unique_ptr<corvidale::TransferFile>)file maxBytes:(uint64_t)maxBytes;
// The write that failed, if one did; the task was cancelled for it.
@property(readonly) NSError* writeError;
// Hands the file over once the task has ended: kept, or nil (and then gone)
// when closing it failed, with writeError set.
- (NSString*)keepFile;
@end

@implementation CVDDownloadTransfer {
    std::unique_ptr<corvidale::TransferFile> _file;
}

- (instancetype)initWithFile:(std::unique_ptr<corvidale::TransferFile>)file maxBytes:(uint64_t)maxBytes {
    if ((self = [super initWithMaxBytes:maxBytes])) _file = std::move(file);
    return self;
}

- (void)noteWriteFailure {
    NSString* text = [NSString stringWithFormat:@"Couldn't save the download as %@: %s",
                                                corvidale::mac::toNSString(_file->path()), std::strerror(_file->error())];
    _writeError = [NSError errorWithDomain:NSPOSIXErrorDomain
                                      code:_file->error()
                                  userInfo:@{NSLocalizedDescriptionKey : text}];
}

- (NSString*)keepFile {
    if (_file->keep()) return corvidale::mac::toNSString(_file->path());
    [self noteWriteFailure];
    return nil;
}

- (void)URLSession:(NSURLSession*)session dataTask:(NSURLSessionDataTask*)dataTask didReceiveData:(NSData*)data {
    if ([self exceeded] || _writeError != nil) return;
    const auto outcome = _file->append([data bytes], [data length]);
    if (outcome == corvidale::TransferFile::Append::TooLong) {
        [self marksExceeded:_file->size() + [data length]];
        [dataTask cancel];
    } else if (outcome == corvidale::TransferFile::Append::Failed) {
        [self noteWriteFailure];
        [dataTask cancel];
    }
    [self noteReceived:_file->size()];
}

@end

// The one delegate of the backend's session. The shared session has no
// delegate and hands no one the body as it arrives, so the backend has a
// session of its own, and this passes each task's events to the transfer
// filed under that task. A task whose transfer is missing is refused at
// every step that asks for an answer.
@interface CVDSessionRouter : NSObject <NSURLSessionDataDelegate>
// Before the task is resumed, so that no event finds it missing.
- (void)file:(CVDTransfer*)transfer underTask:(NSURLSessionTask*)task;
@end

@implementation CVDSessionRouter {
    NSMutableDictionary<NSNumber*, CVDTransfer*>* _transfers;  // by task identifier
}

- (instancetype)init {
    if ((self = [super init])) _transfers = [NSMutableDictionary dictionary];
    return self;
}

- (void)file:(CVDTransfer*)transfer underTask:(NSURLSessionTask*)task {
    @synchronized(self) {
        [_transfers setObject:transfer forKey:@([task taskIdentifier])];
    }
}

// The task's transfer if it takes the events of `protocol`, else nil. A
// task that has ended is forgotten (`forget`).
- (id)transferOf:(NSURLSessionTask*)task conformingTo:(Protocol*)protocol forget:(BOOL)forget {
    NSNumber* key = @([task taskIdentifier]);
    CVDTransfer* transfer = nil;
    @synchronized(self) {
        transfer = [_transfers objectForKey:key];
        if (forget) [_transfers removeObjectForKey:key];
    }
    return [transfer conformsToProtocol:protocol] ? transfer : nil;
}

- (void)URLSession:(NSURLSession*)session
                          task:(NSURLSessionTask*)task
    willPerformHTTPRedirection:(NSHTTPURLResponse*)response
                    newRequest:(NSURLRequest*)request
             completionHandler:(void (^)(NSURLRequest*))completionHandler {
    id<NSURLSessionTaskDelegate> transfer = [self transferOf:task
                                                conformingTo:@protocol(NSURLSessionTaskDelegate)
                                                      forget:NO];
    if (transfer == nil) {
        [task cancel];
        completionHandler(nil);
        return;
    }
    [transfer URLSession:session
                          task:task
        willPerformHTTPRedirection:response
                    newRequest:request
             completionHandler:completionHandler];
}

- (void)URLSession:(NSURLSession*)session task:(NSURLSessionTask*)task didCompleteWithError:(NSError*)error {
    // The last event of every task.
    id<NSURLSessionTaskDelegate> transfer = [self transferOf:task
                                                conformingTo:@protocol(NSURLSessionTaskDelegate)
                                                      forget:YES];
    [transfer URLSession:session task:task didCompleteWithError:error];
}

- (void)URLSession:(NSURLSession*)session
              dataTask:(NSURLSessionDataTask*)dataTask
    didReceiveResponse:(NSURLResponse*)response
     completionHandler:(void (^)(NSURLSessionResponseDisposition))completionHandler {
    id<NSURLSessionDataDelegate> transfer = [self transferOf:dataTask
                                                conformingTo:@protocol(NSURLSessionDataDelegate)
                                                      forget:NO];
    if (transfer == nil) {
        completionHandler(NSURLSessionResponseCancel);
        return;
    }
    [transfer URLSession:session dataTask:dataTask didReceiveResponse:response completionHandler:completionHandler];
}

- (void)URLSession:(NSURLSession*)session dataTask:(NSURLSessionDataTask*)dataTask didReceiveData:(NSData*)data {
    id<NSURLSessionDataDelegate> transfer = [self transferOf:dataTask
                                                conformingTo:@protocol(NSURLSessionDataDelegate)
                                                      forget:NO];
    [transfer URLSession:session dataTask:dataTask didReceiveData:data];
}

@end

namespace corvidale::mac {
namespace {

using Clock = std::chrono::steady_clock;

double boundedSeconds(double seconds) {
    if (!(seconds > 0)) return kDefaultTimeoutSeconds;  // also NaN
    return std::min(seconds, kLongestWaitSeconds);
}

struct Prepared {
    NSURLRequest* request = nil;
    NSError* refusal = nil;
};

// The shell loads the same schemes on every system: http, https and file.
Prepared prepare(const platform::URLRequest& request, double timeoutSeconds) {
    NSURL* url = [NSURL URLWithString:toNSString(request.url)];
    if (url == nil) return {nil, transferError(NSURLErrorBadURL, @"bad URL", nil)};
    if (!isWebScheme([url scheme]) && ![[[url scheme] lowercaseString] isEqualToString:@"file"]) {
        return {nil, transferError(NSURLErrorUnsupportedURL, @"unsupported URL", url)};
    }
    const NSURLRequestCachePolicy policy = request.cachePolicy == platform::CachePolicy::ReloadIgnoringLocalCacheData
                                               ? NSURLRequestReloadIgnoringLocalCacheData
                                               : NSURLRequestUseProtocolCachePolicy;
    return {[NSURLRequest requestWithURL:url cachePolicy:policy timeoutInterval:timeoutSeconds], nil};
}

platform::URLResult failure(NSError* error) {
    platform::URLResult result;
    result.error = toPlatformError(error);
    return result;
}

enum class Verdict { Finished, TimedOut, Stalled, Stopped };

struct Watch {
    std::optional<Clock::time_point> deadline;  // for the whole transfer
    std::uint64_t minBytesPerSecond = 0;        // 0: no pace rule
    double stallSeconds = 0;
    // A deadline that follows from the size the server announces.
    const corvidale::platform::DownloadLimits* limits = nullptr;
    // Told how far the transfer is at each look; it may end it.
    const corvidale::platform::DownloadWatch* watcher = nullptr;
};

// How long the task may take from its start, by the size it announces; 0: no
// such deadline.
double allowedSeconds(NSURLSessionTask* task, const Watch& watch) {
    if (watch.limits == nullptr) return 0;
    const int64_t expected = [task countOfBytesExpectedToReceive];
    return watch.limits->secondsFor(expected > 0 ? std::optional(static_cast<std::uint64_t>(expected)) : std::nullopt);
}

// Blocks until the task has ended. A task that outlives the deadline, or
// that moves slower than the pace rule over a whole stall period once its
// body has begun, is cancelled (and still waited for, so that nothing of it
// runs after this returns). Before the first byte the request's own timeout
// is what limits waiting for the server.
Verdict waitFor(CVDTransfer* transfer, NSURLSessionTask* task, const Watch& watch) {
    dispatch_semaphore_t finished = [transfer finished];
    const bool paced = watch.minBytesPerSecond > 0 && watch.stallSeconds > 0 && std::isfinite(watch.stallSeconds);
    const bool watched = watch.watcher != nullptr && watch.watcher->progress;
    if (!watch.deadline && !paced && watch.limits == nullptr && !watched) {
        dispatch_semaphore_wait(finished, DISPATCH_TIME_FOREVER);
        return Verdict::Finished;
    }
    std::optional<Clock::time_point> periodStart;
    std::uint64_t periodStartBytes = 0;
    const auto started = Clock::now();
    while (dispatch_semaphore_wait(finished, dispatch_time(DISPATCH_TIME_NOW, kWatchSliceNanoseconds)) != 0) {
        const auto now = Clock::now();
        const double allowed = allowedSeconds(task, watch);
        Verdict verdict = Verdict::Finished;
        const int64_t expected = [task countOfBytesExpectedToReceive];
        if (watched && !watch.watcher->progress([transfer receivedBytes],
                                                expected > 0 ? std::optional(static_cast<std::uint64_t>(expected))
                                                             : std::nullopt)) {
            verdict = Verdict::Stopped;
        } else if ((watch.deadline && now >= *watch.deadline) ||
            (allowed > 0 && std::chrono::duration<double>(now - started).count() > allowed)) {
            verdict = Verdict::TimedOut;
        } else if (paced) {
            const std::uint64_t bytes = [transfer receivedBytes];
            if (!periodStart) {
                if (bytes > 0) {
                    periodStart = now;
                    periodStartBytes = bytes;
                }
            } else if (const double elapsed = std::chrono::duration<double>(now - *periodStart).count();
                       elapsed >= watch.stallSeconds) {
                const double needed = static_cast<double>(watch.minBytesPerSecond) * elapsed;
                if (static_cast<double>(bytes - periodStartBytes) < needed) {
                    verdict = Verdict::Stalled;
                } else {
                    periodStart = now;
                    periodStartBytes = bytes;
                }
            }
        }
        if (verdict != Verdict::Finished) {
            [task cancel];
            // Every task ends with its completion, a cancelled one at once.
            dispatch_semaphore_wait(finished, DISPATCH_TIME_FOREVER);
            return verdict;
        }
    }
    return Verdict::Finished;
}

// What the caller sees of an ended task. `abandonment` is the reason this
// side cancelled it, if it did; it replaces the system's "cancelled".
platform::URLResult outcomeOf(CVDTransfer* transfer, NSError* abandonment) {
    if ([transfer redirectRefused]) {
        return failure(transferError(NSURLErrorUnsupportedURL,
                                     @"The server redirected the request to an address that is not http or https.",
                                     [transfer refusedLocation]));
    }
    NSError* error = [transfer error];
    if (error != nil && ![transfer exceeded]) {
        const bool cancelledHere = abandonment != nil && [[error domain] isEqualToString:NSURLErrorDomain] &&
                                   [error code] == NSURLErrorCancelled;
        return failure(cancelledHere ? abandonment : error);
    }
    platform::URLResult result;
    NSURLResponse* response = [transfer response];
    // After redirects, the response's URL is where the body came from.
    if ([response URL] != nil) result.response.url = toStdString([[response URL] absoluteString]);
    if ([response isKindOfClass:[NSHTTPURLResponse class]]) {
        result.response.isHTTP = true;
        result.response.statusCode = static_cast<int>([static_cast<NSHTTPURLResponse*>(response) statusCode]);
    }
    result.response.exceededMaxBytes = [transfer exceeded];
    return result;
}

}  // namespace

MacURLSession::MacURLSession() {
    router_ = [[CVDSessionRouter alloc] init];
    // One event at a time, in the order the session sends them.
    NSOperationQueue* events = [[NSOperationQueue alloc] init];
    [events setMaxConcurrentOperationCount:1];
    [events setName:@"com.corvidale.url-session"];
    session_ = [NSURLSession sessionWithConfiguration:[NSURLSessionConfiguration defaultSessionConfiguration]
                                             delegate:router_
                                        delegateQueue:events];
}

MacURLSession::~MacURLSession() {
    // A session keeps its delegate until it is invalidated.
    [session_ invalidateAndCancel];
}

platform::URLResult MacURLSession::data(const platform::URLRequest& request, std::uint64_t maxBytes) {
    @autoreleasepool {
        const double timeout = boundedSeconds(request.timeoutSeconds);
        const Prepared prepared = prepare(request, timeout);
        if (prepared.refusal != nil) return failure(prepared.refusal);

        CVDDataTransfer* transfer = [[CVDDataTransfer alloc] initWithMaxBytes:maxBytes];
        NSURLSessionDataTask* task = [session_ dataTaskWithRequest:prepared.request];
        [router_ file:transfer underTask:task];
        [task resume];
        // The request's timeout only limits how long the server may stay
        // silent; here it bounds the whole transfer.
        Watch watch;
        watch.deadline =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
        const Verdict verdict = waitFor(transfer, task, watch);

        NSError* abandonment =
            verdict == Verdict::TimedOut
                ? transferError(NSURLErrorTimedOut, @"The request timed out.", [prepared.request URL])
                : nil;
        platform::URLResult result = outcomeOf(transfer, abandonment);
        if (!result.error && !result.response.exceededMaxBytes) result.response.body = [transfer takeBody];
        return result;
    }
}

platform::URLResult MacURLSession::download(const platform::URLRequest& request,
                                            const platform::DownloadLimits& limits, const std::string& folder,
                                            const platform::DownloadWatch& watcher) {
    @autoreleasepool {
        const Prepared prepared = prepare(request, boundedSeconds(request.timeoutSeconds));
        if (prepared.refusal != nil) return failure(prepared.refusal);
        // The file is there before the request goes out; until it is kept,
        // it goes with the transfer.
        std::unique_ptr<TransferFile> file;
        try {
            file = std::make_unique<TransferFile>(folder, limits.maxBytes);
        } catch (const PosixError& error) {
            NSString* text = [NSString stringWithFormat:@"Couldn't create a temporary file: %s",
                                                        std::strerror(error.errorNumber())];
            return failure(transferError(NSURLErrorCannotCreateFile, text, [prepared.request URL]));
        }
        CVDDownloadTransfer* transfer = [[CVDDownloadTransfer alloc] initWithFile:std::move(file)
                                                                         maxBytes:limits.maxBytes];
        NSURLSessionDataTask* task = [session_ dataTaskWithRequest:prepared.request];
        [router_ file:transfer underTask:task];
        [task resume];
        Watch watch;
        watch.minBytesPerSecond = limits.minBytesPerSecond;
        watch.stallSeconds = limits.stallSeconds;
        watch.limits = &limits;
        watch.watcher = &watcher;
        const Verdict verdict = waitFor(transfer, task, watch);

        // This side cancelled the task for a write that failed, a transfer
        // past its deadline or a body that stalled: that is the error, not
        // the cancellation.
        NSError* abandonment = [transfer writeError];
        if (abandonment == nil && verdict == Verdict::TimedOut) {
            NSString* text = [NSString stringWithFormat:@"The download took too long: it may take %.0f seconds at most.",
                                                        allowedSeconds(task, watch)];
            abandonment = transferError(NSURLErrorTimedOut, text, [prepared.request URL]);
        } else if (abandonment == nil && verdict == Verdict::Stopped) {
            abandonment = transferError(NSURLErrorCancelled, @"The download was stopped.", [prepared.request URL]);
        } else if (abandonment == nil && verdict == Verdict::Stalled) {
            NSString* text =
                [NSString stringWithFormat:@"The download stalled: less than %llu bytes a second for %g seconds.",
                                           static_cast<unsigned long long>(limits.minBytesPerSecond),
                                           limits.stallSeconds];
            abandonment = transferError(NSURLErrorTimedOut, text, [prepared.request URL]);
        }
        platform::URLResult result = outcomeOf(transfer, abandonment);
        // An error or an exceeded limit leaves no file behind.
        if (result.error || result.response.exceededMaxBytes) return result;
        NSString* kept = [transfer keepFile];
        if (kept == nil) return failure([transfer writeError]);
        result.response.filePath = toStdString(kept);
        return result;
    }
}

}  // namespace corvidale::mac
