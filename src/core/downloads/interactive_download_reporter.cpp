#include "interactive_download_reporter.h"

namespace corvidale {
namespace {

// Downloads that finish within this long of each other are one burst.
constexpr double kRevealBurstSeconds = 3.0;

}  // namespace

void InteractiveDownloadReporter::downloadDidFinish(const std::string& path) {
    // A page's frames or a batch can bring hundreds of files: the folder is
    // shown with the first, and not again until the downloads have paused.
    const bool showing = burst_;
    burst_ = true;
    const auto number = ++burstNumber_;
    queue_.after(kRevealBurstSeconds, [this, number, alive = std::weak_ptr<int>(lifetime_)] {
        if (alive.lock() && number == burstNumber_) burst_ = false;
    });
    if (!showing) workspace_.revealFiles({path});
}

void InteractiveDownloadReporter::downloadDidFail(const std::string& name, const platform::Error& error) {
    platform::AlertContent content;
    content.messageText = "The download didn't finish";
    content.informativeText = name + " could not be saved: " + error.localizedDescription;
    content.buttons = {"OK"};
    dialogs_.showAlert(content, platform::Presentation::SheetOnWindow, [](platform::AlertResult) {});
}

}  // namespace corvidale
