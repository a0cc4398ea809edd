#pragma once

#import <Foundation/Foundation.h>

#include <string>

#include "core/platform/bundle.h"

namespace corvidale::mac {

// An Info.plist value with its property-list type.
platform::PlistValue plistValueOf(id value);

// The main bundle and its Info.plist.
class MainBundle final : public platform::Bundle {
public:
    std::optional<platform::PlistValue> infoValue(std::string_view key) const override;
    std::optional<std::string> bundleIdentifier() const override;
    std::string bundlePath() const override;
};

// A bundle elsewhere, with the Info.plist dictionary read from it once.
class InfoDictionaryBundle final : public platform::Bundle {
public:
    InfoDictionaryBundle(std::string path, NSDictionary* info) : path_(std::move(path)), info_(info) {}
    std::optional<platform::PlistValue> infoValue(std::string_view key) const override;
    std::optional<std::string> bundleIdentifier() const override;
    std::string bundlePath() const override { return path_; }

private:
    std::string path_;
    NSDictionary* info_;
};

class ProcessEnvironment final : public platform::Environment {
public:
    std::optional<std::string> get(std::string_view name) const override;
};

}  // namespace corvidale::mac
