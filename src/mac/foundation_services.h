#pragma once

#import <Foundation/Foundation.h>

#include <memory>

#include "core/platform/bundle.h"
#include "core/platform/defaults.h"
#include "core/platform/main_queue.h"
#include "core/platform/process.h"

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

class ProcessEnvironment final : public platform::Environment {
public:
    std::optional<std::string> get(std::string_view name) const override;
};

// NSUserDefaults' standard defaults. Its argument domain ("-key value" on
// the command line) already overrides the stored values for one run.
class StandardDefaults final : public platform::Defaults {
public:
    std::optional<std::string> string(std::string_view key) const override;
    bool boolean(std::string_view key) const override;
    void setString(std::string_view key, std::string_view value) override;
    void setBoolean(std::string_view key, bool value) override;
};

class StandardProcess final : public platform::Process {
public:
    void writeStdout(std::string_view line) override;
    void writeStderr(std::string_view line) override;
    void systemLog(std::string_view line) override;
    bool startDetached(const std::string& executable, const std::vector<std::string>& arguments) override;

protected:
    [[noreturn]] void endProcess(int status) override;
};

// The main dispatch queue and the main run loop.
class MainDispatchQueue final : public platform::MainQueue {
public:
    void post(std::function<void()> job) override;
    void after(double seconds, std::function<void()> job) override;
    std::unique_ptr<platform::Timer> repeating(double intervalSeconds, std::function<void()> job) override;
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds) override;
};

}  // namespace corvidale::mac
