#include "interactive_download_reporter.h"

namespace corvidale {
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
