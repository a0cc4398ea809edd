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
    destinations_[download.id()] = destination.path;
    completionHandler(destination.path);
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
    const auto entry = destinations_.find(download.id());
    if (entry == destinations_.end()) return;
    const std::string destination = entry->second;
    destinations_.erase(entry);
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
    if (const auto entry = destinations_.find(download.id()); entry != destinations_.end()) {
        name = lastComponent(entry->second);
        // Our placeholder must not linger as an empty file that looks like a download.
        releaseUnusedClaim(entry->second);
        destinations_.erase(entry);
    } else if (const auto declined = declined_.find(download.id()); declined != declined_.end()) {
        name = declined->second.first;
        reported = declined->second.second;
        declined_.erase(declined);
    }
    reporter_.downloadDidFail(name, reported);
}

}  // namespace corvidale
