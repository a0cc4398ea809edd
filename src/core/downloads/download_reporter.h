#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/platform/download.h"
#include "core/platform/error.h"
#include "core/platform/web_view.h"

namespace corvidale {

// How the download flow's outcomes are shown: to the user, or as the
// unattended self-test's line and exit status.
class DownloadReporter {
public:
    virtual ~DownloadReporter() = default;
    // A page finished loading in the window.
    virtual void pageDidFinishLoading(platform::WebView& web) = 0;
    // A download has its file and runs under `name`: `running` tells it
    // while it does, until downloadDidEnd, and offers its Cancel.
    virtual void downloadDidStart(const platform::Download& running, const std::string& name,
                                  std::function<void()> cancel) {
        (void)running, (void)name, (void)cancel;
    }
    // Told before the end is reported (or not, for a download the user cancelled).
    virtual void downloadDidEnd(platform::DownloadId id) { (void)id; }
    // A download is complete, in full, at `path`.
    virtual void downloadDidFinish(const std::string& path) = 0;
    // The file `name` could not be saved.
    virtual void downloadDidFail(const std::string& name, const platform::Error& error) = 0;
};

}  // namespace corvidale
