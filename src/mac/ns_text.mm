#include "ns_text.h"

namespace corvidale::mac {

NSString* toNSString(std::string_view text) {
    NSString* string = [[NSString alloc] initWithBytes:text.data() length:text.size() encoding:NSUTF8StringEncoding];
    if (string == nil) {
        string = [[NSString alloc] initWithBytes:text.data() length:text.size() encoding:NSISOLatin1StringEncoding];
    }
    return string != nil ? string : @"";
}

std::string toStdString(NSString* text) {
    // Through NSData rather than UTF8String: a NUL inside the text must not
    // cut it short, and an unpaired surrogate from a page must not make it nil.
    NSData* data = [text dataUsingEncoding:NSUTF8StringEncoding allowLossyConversion:YES];
    if (data == nil) return {};
    return std::string(static_cast<const char*>([data bytes]), [data length]);
}

std::optional<std::string> optionalString(NSString* text) {
    if (text == nil) return std::nullopt;
    return toStdString(text);
}

NSURL* fileURL(const std::string& path) { return [NSURL fileURLWithPath:toNSString(path)]; }

platform::Error toPlatformError(NSError* error) {
    return {toStdString([error localizedDescription]), toStdString([error description])};
}

}  // namespace corvidale::mac
