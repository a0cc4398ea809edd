#pragma once

#import <Foundation/Foundation.h>

#include <optional>
#include <string>
#include <string_view>

#include "core/platform/error.h"

namespace corvidale::mac {

// Never nil: bytes that are not UTF-8 are read as Latin-1, so a bad text
// shows garbled rather than vanishing or raising inside AppKit.
NSString* toNSString(std::string_view text);

// The UTF-8 bytes of `text`; the empty text for nil.
std::string toStdString(NSString* text);

// nullopt for nil; the string otherwise.
std::optional<std::string> optionalString(NSString* text);

// A file URL for a path the core chose.
NSURL* fileURL(const std::string& path);

// The error as the core passes it on: its localized description, and its
// full description (domain, code and details) for the log.
platform::Error toPlatformError(NSError* error);

}  // namespace corvidale::mac
