#pragma once

#include <string>

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
    // A download is complete, in full, at `path`.
    virtual void downloadDidFinish(const std::string& path) = 0;
    // The file `name` could not be saved.
    virtual void downloadDidFail(const std::string& name, const platform::Error& error) = 0;
};

}  // namespace corvidale
