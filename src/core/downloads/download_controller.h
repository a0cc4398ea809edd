#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/platform/download.h"
#include "core/platform/web_view.h"
#include "core/platform/workspace.h"
#include "download_reporter.h"

namespace corvidale {

// Whether a finished transfer wrote other than the length announced for its
// body. An announced 0 counts as none: an engine's expected count may still
// stand at its starting 0 for a body of unknown length, and where a server
// did announce 0, nothing can have been cut off.
bool endedShort(std::optional<std::uint64_t> announced, std::uint64_t written);

// Gives each download a file of its own in the Downloads folder, makes sure
// only whole files count as downloaded, and hands every end to the reporter.
class DownloadController final : public platform::DownloadDelegate {
public:
    // `temporarySuffix`: what the engine appends to a name while it writes.
    DownloadController(platform::Workspace& workspace, std::string temporarySuffix, DownloadReporter& reporter);

    // A navigation became `download`: its events come here from now on.
    void adopt(platform::Download& download) { download.setDelegate(this); }
    void pageDidFinishLoading(platform::WebView& web) { reporter_.pageDidFinishLoading(web); }

    void decideDestination(platform::Download& download, const std::string& suggestedFilename,
                           platform::Completion<std::optional<std::string>> completionHandler) override;
    void downloadDidFinish(platform::Download& download) override;
    void downloadDidFail(platform::Download& download, const platform::Error& error) override;
    // The user's own Cancel: the download stops, its file goes, no failure is shown.
    void cancel(platform::DownloadId id);

private:
    // Forgets a running download; answers where it was writing ("" if it was not running).
    std::string end(platform::Download& download);
    void decline(platform::Download& download, const std::string& suggestedFilename, platform::Error reason,
                 platform::Completion<std::optional<std::string>>& completionHandler);

    platform::Workspace& workspace_;
    std::string temporarySuffix_;
    DownloadReporter& reporter_;
    // Where each running download writes.
    std::unordered_map<platform::DownloadId, std::string> destinations_;
    // The running downloads themselves, while the engine keeps them.
    std::unordered_map<platform::DownloadId, platform::Download*> running_;
    std::unordered_set<platform::DownloadId> cancelled_;
    // Downloads refused a destination, with the name and the reason to report
    // when the engine tells of their end.
    std::unordered_map<platform::DownloadId, std::pair<std::string, platform::Error>> declined_;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace corvidale
