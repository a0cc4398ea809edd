#pragma once

#import <AppKit/AppKit.h>

#include "core/platform/dialogs.h"

namespace corvidale::mac {

// NSAlert and NSOpenPanel, as sheets on the shell's window or app-modal.
class MacDialogs final : public platform::Dialogs {
public:
    // The window sheets attach to: the one the core made.
    void setSheetWindow(NSWindow* window) { sheetWindow_ = window; }

    void showAlert(const platform::AlertContent& content, platform::Presentation presentation,
                   std::function<void(platform::AlertResult)> done) override;
    void showOpenPanel(const platform::OpenPanelParameters& parameters,
                       std::function<void(int response, std::vector<std::string> paths)> done) override;

private:
    __weak NSWindow* sheetWindow_ = nil;
};

}  // namespace corvidale::mac
