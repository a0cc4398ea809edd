#pragma once

#include <string>
#include <string_view>

#include "core/platform/main_queue.h"
#include "core/platform/process.h"
#include "download_reporter.h"

namespace corvidale {

// The text the self-test's file holds, and must hold once saved.
inline constexpr std::string_view kDownloadSelfTestMarker = "saved by the Mac shell";
inline constexpr std::string_view kDownloadSelfTestFileName = "corvidale-download-selftest.txt";

// The unattended run of the download path: the first page that finishes
// loading downloads a small file, and the first end of any download (or 15 s
// without one) ends the process with one line and its status.
class DownloadSelfTest final : public DownloadReporter {
public:
    DownloadSelfTest(platform::Process& process, platform::MainQueue& queue) : process_(process), queue_(queue) {}

    void pageDidFinishLoading(platform::WebView& web) override;
    void downloadDidFinish(const std::string& path) override;
    void downloadDidFail(const std::string& name, const platform::Error& error) override;

private:
    [[noreturn]] void fail(const std::string& errorDescription);

    platform::Process& process_;
    platform::MainQueue& queue_;
    bool started_ = false;
};

}  // namespace corvidale
