#include "download_controller.h"

#include <cstdio>

#include "destination.h"

namespace corvidale {
namespace {

std::string lastComponent(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

platform::Error downloadError(int code, const std::string& text) {
    return {text, "Error Domain=CorvidaleDownloadErrorDomain Code=" + std::to_string(code) + " \"" + text + "\""};
}

}  // namespace

bool endedShort(std::optional<std::uint64_t> announced, std::uint64_t written) {
    return announced && *announced != 0 && written != *announced;
}

DownloadController::DownloadController(platform::Workspace& workspace, std::string temporarySuffix,
                                       DownloadReporter& reporter)
    : workspace_(workspace), temporarySuffix_(std::move(temporarySuffix)), reporter_(reporter) {}

void DownloadController::decideDestination(platform::Download& download, const std::string& suggestedFilename,
                                           platform::Completion<std::optional<std::string>> completionHandler) {
    const auto folder = workspace_.downloadsDirectory();
    if (!folder) {
        decline(download, suggestedFilename, downloadError(1, "The Downloads folder is unavailable."),
                completionHandler);
        return;
    }
    const auto destination = uniqueDestination(
        *folder, suggestedFilename,
        [this](const std::string& path) {
            for (const auto& [id, running] : destinations_) {
                if (running == path) return true;
            }
            return false;
        },
        temporarySuffix_);
    if (destination.problem) {
        decline(download, suggestedFilename, downloadError(2, "No name is free: " + *destination.problem + "."),
                completionHandler);
        return;
    }
    const auto id = download.id();
    destinations_[id] = destination.path;
    running_[id] = &download;
    std::weak_ptr<int> alive = lifetime_;
    reporter_.downloadDidStart(download, lastComponent(destination.path), [this, alive, id] {
        if (!alive.expired()) cancel(id);
    });
    completionHandler(destination.path);
}

void DownloadController::cancel(platform::DownloadId id) {
    const auto found = running_.find(id);
    if (found == running_.end()) return;
    cancelled_.insert(id);
    found->second->cancel();
}

std::string DownloadController::end(platform::Download& download) {
    const auto id = download.id();
    running_.erase(id);
    const auto entry = destinations_.find(id);
    if (entry == destinations_.end()) return {};
    reporter_.downloadDidEnd(id);
    std::string destination = std::move(entry->second);
    destinations_.erase(entry);
    return destination;
}

void DownloadController::decline(platform::Download& download, const std::string& suggestedFilename,
                                 platform::Error reason,
                                 platform::Completion<std::optional<std::string>>& completionHandler) {
    // The engine then reports a cancellation, which is not what happened, so
    // the failure names the real cause.
    declined_[download.id()] = {sanitizeFilename(suggestedFilename), std::move(reason)};
    completionHandler(std::nullopt);
}

void DownloadController::downloadDidFinish(platform::Download& download) {
    const std::string destination = end(download);
    if (destination.empty()) return;
    if (cancelled_.erase(download.id()) != 0) {
        // Cancelled as it ended: the user did not want it.
        std::remove(destination.c_str());
        return;
    }
    const auto expected = download.expectedLength();
    if (endedShort(expected, download.receivedLength())) {
        // The connection ended early and the engine took the end for the
        // end of the file. A half file must not pass for a download.
        std::remove(destination.c_str());
        reporter_.downloadDidFail(lastComponent(destination),
                                  downloadError(3, "The connection closed after " +
                                                       std::to_string(download.receivedLength()) + " of " +
                                                       std::to_string(*expected) + " bytes."));
        return;
    }
    reporter_.downloadDidFinish(destination);
}

void DownloadController::downloadDidFail(platform::Download& download, const platform::Error& error) {
    std::string name = "The file";
    platform::Error reported = error;
    if (const auto destination = end(download); !destination.empty()) {
        name = lastComponent(destination);
        // Our placeholder must not linger as an empty file that looks like a download.
        releaseUnusedClaim(destination);
        if (cancelled_.erase(download.id()) != 0) {
            // What the engine wrote so far goes too, whether or not it removed it itself.
            removePartial(destination + temporarySuffix_);
            return;
        }
    } else if (const auto declined = declined_.find(download.id()); declined != declined_.end()) {
        name = declined->second.first;
        reported = declined->second.second;
        declined_.erase(declined);
    }
    reporter_.downloadDidFail(name, reported);
}

}  // namespace corvidale
