#pragma once

#include <memory>

#include "core/platform/main_queue.h"
#include "core/platform/process.h"

namespace corvidale::gtk {

class StandardProcess final : public platform::Process {
public:
    void writeStdout(std::string_view line) override;
    void writeStderr(std::string_view line) override;
    void systemLog(std::string_view line) override;
    bool startDetached(const std::string& executable, const std::vector<std::string>& arguments) override;

protected:
    [[noreturn]] void endProcess(int status) override;
};

// The default GLib main context, which GtkApplication runs on the main thread.
class GLibMainQueue final : public platform::MainQueue {
public:
    void post(std::function<void()> job) override;
    void after(double seconds, std::function<void()> job) override;
    std::unique_ptr<platform::Timer> repeating(double intervalSeconds, std::function<void()> job) override;
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds) override;
};

}  // namespace corvidale::gtk
