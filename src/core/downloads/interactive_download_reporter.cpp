#include "interactive_download_reporter.h"

namespace corvidale {
namespace {

// How often a running download's progress is read: the engine tells every
// piece it writes, far more often than anyone can see.
constexpr double kWatchIntervalSeconds = 0.25;

}  // namespace

void InteractiveDownloadReporter::downloadDidStart(const platform::Download& running, const std::string& name,
                                                   std::function<void()> cancel) {
    const bool first = running_.empty();
    running_[running.id()] = {&running, name, board_.start(true, std::move(cancel))};
    watch();
    if (first) watching_.repeating(kWatchIntervalSeconds, [this] { watch(); });
}

void InteractiveDownloadReporter::downloadDidEnd(platform::DownloadId id) {
    const auto found = running_.find(id);
    if (found == running_.end()) return;
    board_.finish(found->second.row);
    running_.erase(found);
    if (running_.empty()) watching_.cancel();
}

void InteractiveDownloadReporter::watch() {
    for (const auto& [id, running] : running_) {
        Progress progress;
        progress.done = running.download->receivedLength();
        progress.total = running.download->expectedLength();
        if (progress.total == 0) progress.total.reset();  // not announced yet
        progress.text = running.name + " \u2014 " + byteCount(progress.done);
        if (progress.total) progress.text += " of " + byteCount(*progress.total);
        progress.cancelName = "Cancel the download of " + running.name;
        board_.update(running.row, std::move(progress));
    }
}

void InteractiveDownloadReporter::downloadDidFinish(const std::string& path) {
    // A page's frames or a batch can bring hundreds of files, and a page can
    // pace them to outlast any pause: the folder is shown with the first, and
    // not again within the minute, however the files come.
    if (!reveals_.spend()) return;
    workspace_.revealFiles({path});
}

void InteractiveDownloadReporter::downloadDidFail(const std::string& name, const platform::Error& error) {
    platform::AlertContent content;
    content.messageText = "The download didn't finish";
    content.informativeText = name + " could not be saved: " + error.localizedDescription;
    content.buttons = {"OK"};
    dialogs_.showAlert(content, platform::Presentation::SheetOnWindow, [](platform::AlertResult) {});
}

}  // namespace corvidale
