#include "file_manager.h"

#import <Foundation/Foundation.h>

#include "foundation_services.h"
#include "ns_text.h"

namespace corvidale::mac {

std::string DefaultFileManager::temporaryDirectory() {
    @autoreleasepool {
        return toStdString([[[NSFileManager defaultManager] temporaryDirectory] path]);
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

std::optional<std::string> DefaultFileManager::bundleIdentifierAt(const std::string& bundlePath) {
    @autoreleasepool {
        return optionalString([[NSBundle bundleWithURL:fileURL(bundlePath)] bundleIdentifier]);
    }
}

std::optional<platform::PlistValue> DefaultFileManager::infoValueAt(const std::string& bundlePath,
                                                                    std::string_view key) {
    @autoreleasepool {
        id value = [[NSBundle bundleWithURL:fileURL(bundlePath)] objectForInfoDictionaryKey:toNSString(key)];
        if (value == nil) return std::nullopt;
        return plistValueOf(value);
    }
}

}  // namespace corvidale::mac
