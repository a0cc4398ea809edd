#include <cstdio>
#include <string>

#include "core/app/delegate.h"
#include "core/downloads/destination.h"

namespace corvidale {
namespace {

constexpr std::string_view kDownloadSelfTestKey = "downloadSelfTest";
// Downloads that finish within this long of each other are one burst.
constexpr double kRevealBurstSeconds = 3.0;

std::string lastComponent(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

platform::Error downloadError(int code, const std::string& text) {
    return {text, "Error Domain=CorvidaleDownloadErrorDomain Code=" + std::to_string(code) + " \"" + text + "\""};
}

}  // namespace

void Delegate::decideDestination(platform::Download& download, const std::string& suggestedFilename,
                                 platform::Completion<std::optional<std::string>> completionHandler) {
    const auto folder = platform_.workspace().downloadsDirectory();
    if (!folder) {
        // Nowhere to save: decline; the engine then reports a cancellation,
        // which is not what happened, so the failure names the real cause.
        declinedDownloads_[download.id()] = {sanitizeFilename(suggestedFilename),
                                             downloadError(1, "The Downloads folder is unavailable.")};
        completionHandler(std::nullopt);
        return;
    }
    const auto destination = uniqueDestination(
        *folder, suggestedFilename,
        [this](const std::string& path) {
            for (const auto& [id, running] : downloads) {
                if (running == path) return true;
            }
            return false;
        },
        platform_.downloadTemporarySuffix());
    if (destination.problem) {
        declinedDownloads_[download.id()] = {sanitizeFilename(suggestedFilename),
                                             downloadError(2, "No name is free: " + *destination.problem + ".")};
        completionHandler(std::nullopt);
        return;
    }
    downloads[download.id()] = destination.path;
    completionHandler(destination.path);
}

void Delegate::downloadDidFinish(platform::Download& download) {
    const auto entry = downloads.find(download.id());
    if (entry == downloads.end()) return;
    const std::string destination = entry->second;
    downloads.erase(entry);
    const auto expected = download.expectedLength();
    if (expected && download.receivedLength() != *expected) {
        // The connection ended early and the engine took the end for the
        // end of the file. A half file must not pass for a download.
        std::remove(destination.c_str());
        reportDownloadFailure(lastComponent(destination),
                              downloadError(3, "The connection closed after " +
                                                   std::to_string(download.receivedLength()) + " of " +
                                                   std::to_string(*expected) + " bytes."));
        return;
    }
    if (platform_.defaults().boolean(kDownloadSelfTestKey)) completeDownloadSelfTest(destination);
    revealOncePerBurst(destination);
}

void Delegate::revealOncePerBurst(const std::string& path) {
    // A page's frames or a batch can bring hundreds of files: the folder is
    // shown with the first, and not again until the downloads have paused.
    const bool showing = revealBurst_;
    revealBurst_ = true;
    const auto number = ++revealBurstNumber_;
    platform_.mainQueue().after(kRevealBurstSeconds, [this, number, alive = std::weak_ptr<int>(lifetime_)] {
        if (alive.lock() && number == revealBurstNumber_) revealBurst_ = false;
    });
    if (!showing) platform_.workspace().revealFiles({path});
}

void Delegate::downloadDidFail(platform::Download& download, const platform::Error& error) {
    std::string name = "The file";
    platform::Error reported = error;
    if (const auto entry = downloads.find(download.id()); entry != downloads.end()) {
        name = lastComponent(entry->second);
        // Our placeholder must not linger as an empty file that looks like a download.
        releaseUnusedClaim(entry->second);
        downloads.erase(entry);
    } else if (const auto declined = declinedDownloads_.find(download.id()); declined != declinedDownloads_.end()) {
        name = declined->second.first;
        reported = declined->second.second;
        declinedDownloads_.erase(declined);
    }
    reportDownloadFailure(name, reported);
}

void Delegate::reportDownloadFailure(const std::string& name, const platform::Error& error) {
    if (platform_.defaults().boolean(kDownloadSelfTestKey)) failDownloadSelfTest(error.fullDescription);
    platform::AlertContent content;
    content.messageText = "The download didn't finish";
    content.informativeText = name + " could not be saved: " + error.localizedDescription;
    content.buttons = {"OK"};
    platform_.dialogs().showAlert(content, platform::Presentation::SheetOnWindow, [](platform::AlertResult) {});
}

}  // namespace corvidale
