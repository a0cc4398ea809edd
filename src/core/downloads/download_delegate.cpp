#include <string>

#include "core/app/delegate.h"
#include "core/downloads/destination.h"

namespace corvidale {
namespace {

constexpr std::string_view kDownloadSelfTestKey = "downloadSelfTest";

std::string lastComponent(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void Delegate::decideDestination(platform::Download& download, const std::string& suggestedFilename,
                                 platform::Completion<std::optional<std::string>> completionHandler) {
    const auto folder = platform_.workspace().downloadsDirectory();
    if (!folder) {
        // Nowhere to save: decline, and the engine reports the failure.
        completionHandler(std::nullopt);
        return;
    }
    const auto destination = uniqueDestination(*folder, suggestedFilename, [this](const std::string& path) {
        for (const auto& [id, running] : downloads) {
            if (running == path) return true;
        }
        return false;
    });
    downloads[download.id()] = destination.path;
    completionHandler(destination.path);
}

void Delegate::downloadDidFinish(platform::Download& download) {
    const auto entry = downloads.find(download.id());
    if (entry == downloads.end()) return;
    const std::string destination = entry->second;
    downloads.erase(entry);
    if (platform_.defaults().boolean(kDownloadSelfTestKey)) completeDownloadSelfTest(destination);
    platform_.workspace().revealFiles({destination});
}

void Delegate::downloadDidFail(platform::Download& download, const platform::Error& error) {
    std::string name = "The file";
    if (const auto entry = downloads.find(download.id()); entry != downloads.end()) {
        name = lastComponent(entry->second);
        // Our placeholder must not linger as an empty file that looks like a download.
        releaseUnusedClaim(entry->second);
        downloads.erase(entry);
    }
    if (platform_.defaults().boolean(kDownloadSelfTestKey)) failDownloadSelfTest(error.fullDescription);
    platform::AlertContent content;
    content.messageText = "The download didn't finish";
    content.informativeText = name + " could not be saved: " + error.localizedDescription;
    content.buttons = {"OK"};
    platform_.dialogs().showAlert(content, platform::Presentation::SheetOnWindow, [](platform::AlertResult) {});
}

}  // namespace corvidale
