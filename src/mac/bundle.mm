#include "bundle.h"

#include <cstring>

#include "ns_text.h"

namespace corvidale::mac {

platform::PlistValue plistValueOf(id value) {
    using Kind = platform::PlistValue::Kind;
    platform::PlistValue result;
    if ([value isKindOfClass:[NSString class]]) {
        result.kind = Kind::String;
        result.text = toStdString(value);
        return result;
    }
    if ([value isKindOfClass:[NSNumber class]]) {
        // Property-list Booleans are numbers whose type is char.
        result.kind = std::strcmp([value objCType], "c") == 0 ? Kind::Boolean : Kind::Number;
    } else if ([value isKindOfClass:[NSDate class]]) {
        result.kind = Kind::Date;
    } else if ([value isKindOfClass:[NSData class]]) {
        result.kind = Kind::Data;
    } else if ([value isKindOfClass:[NSArray class]]) {
        result.kind = Kind::Array;
    } else {
        result.kind = Kind::Dictionary;
    }
    result.text = toStdString([value description]);
    return result;
}

std::optional<platform::PlistValue> MainBundle::infoValue(std::string_view key) const {
    id value = [[NSBundle mainBundle] objectForInfoDictionaryKey:toNSString(key)];
    if (value == nil) return std::nullopt;
    return plistValueOf(value);
}

std::optional<std::string> MainBundle::bundleIdentifier() const {
    return optionalString([[NSBundle mainBundle] bundleIdentifier]);
}

std::string MainBundle::bundlePath() const { return toStdString([[NSBundle mainBundle] bundlePath]); }

std::optional<std::string> ProcessEnvironment::get(std::string_view name) const {
    return optionalString([[[NSProcessInfo processInfo] environment] objectForKey:toNSString(name)]);
}

std::optional<platform::PlistValue> InfoDictionaryBundle::infoValue(std::string_view key) const {
    id value = [info_ objectForKey:toNSString(key)];
    if (value == nil) return std::nullopt;
    return plistValueOf(value);
}

std::optional<std::string> InfoDictionaryBundle::bundleIdentifier() const {
    // As NSBundle tells it: a string, or nothing.
    id value = [info_ objectForKey:@"CFBundleIdentifier"];
    return [value isKindOfClass:[NSString class]] ? optionalString(value) : std::nullopt;
}

}  // namespace corvidale::mac
