#include "file_manager.h"

#import <Foundation/Foundation.h>

#include <cerrno>

#include "bundle.h"
#include "core/util/plist_bounds.h"
#include "ns_text.h"

namespace corvidale::mac {
namespace {

// No file there, or a folder where one is looked for, rather than a file
// that cannot be read.
bool isAbsent(NSError* error) {
    if ([[error domain] isEqualToString:NSCocoaErrorDomain] && [error code] == NSFileReadNoSuchFileError) return true;
    NSError* underlying = [[error userInfo] objectForKey:NSUnderlyingErrorKey];
    return [[underlying domain] isEqualToString:NSPOSIXErrorDomain] &&
           ([underlying code] == ENOENT || [underlying code] == ENOTDIR);
}

}  // namespace

std::string DefaultFileManager::temporaryDirectory() {
    @autoreleasepool {
        return toStdString([[[NSFileManager defaultManager] temporaryDirectory] path]);
    }
}

std::string DefaultFileManager::cachesDirectory() {
    @autoreleasepool {
        NSString* caches =
            [NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, YES) firstObject];
        return caches != nil ? toStdString(caches) : std::string();
    }
}

std::optional<platform::Error> DefaultFileManager::replaceItem(const std::string& originalItem,
                                                               const std::string& newItem) {
    @autoreleasepool {
        NSURL* resulting = nil;
        NSError* error = nil;
        // No backup name and no options: the file manager keeps no copy of
        // the old item, and the new one takes its place and its name.
        if ([[NSFileManager defaultManager] replaceItemAtURL:fileURL(originalItem)
                                               withItemAtURL:fileURL(newItem)
                                              backupItemName:nil
                                                     options:0
                                            resultingItemURL:&resulting
                                                       error:&error]) {
            return std::nullopt;
        }
        if (error == nil) {
            // A failure always comes with its error; should one ever not, it
            // is still reported as a failure.
            error = [NSError errorWithDomain:NSCocoaErrorDomain code:NSFileWriteUnknownError userInfo:nil];
        }
        return toPlatformError(error);
    }
}

std::variant<std::unique_ptr<platform::Bundle>, platform::Error> DefaultFileManager::bundleAt(
    const std::string& bundlePath) {
    @autoreleasepool {
        // Read as NSBundle reads it, except that a file that is there and
        // cannot be read is an error of its own rather than an empty bundle.
        NSError* error = nil;
        NSData* data = [NSData dataWithContentsOfURL:fileURL(bundlePath + "/Contents/Info.plist")
                                             options:0
                                               error:&error];
        NSDictionary* info = @{};
        if (data == nil) {
            if (!isAbsent(error)) return toPlatformError(error);
        } else if (plistWithinBounds(std::string_view(static_cast<const char*>([data bytes]), [data length]))) {
            id parsed = [NSPropertyListSerialization propertyListWithData:data options:0 format:nullptr error:nullptr];
            if ([parsed isKindOfClass:[NSDictionary class]]) info = parsed;
        }
        return std::make_unique<InfoDictionaryBundle>(bundlePath, info);
    }
}

}  // namespace corvidale::mac
