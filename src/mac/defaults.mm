#include "defaults.h"

#import <Foundation/Foundation.h>

#include "ns_text.h"

namespace corvidale::mac {

std::optional<std::string> StandardDefaults::string(std::string_view key) const {
    return optionalString([[NSUserDefaults standardUserDefaults] stringForKey:toNSString(key)]);
}

bool StandardDefaults::boolean(std::string_view key) const {
    return [[NSUserDefaults standardUserDefaults] boolForKey:toNSString(key)];
}

void StandardDefaults::setString(std::string_view key, std::string_view value) {
    [[NSUserDefaults standardUserDefaults] setObject:toNSString(value) forKey:toNSString(key)];
}

void StandardDefaults::setBoolean(std::string_view key, bool value) {
    [[NSUserDefaults standardUserDefaults] setBool:value forKey:toNSString(key)];
}

}  // namespace corvidale::mac
