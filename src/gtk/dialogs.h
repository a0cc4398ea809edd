#pragma once

#include "core/platform/dialogs.h"
#include "shell_context.h"

namespace corvidale::gtk {

// Alerts and open panels as plain GTK windows, modal to the main window.
// GTK has no sheets; a dialog that is transient for the main window and
// modal is the nearest thing, and it goes away with that window.
//
// Window titles, so that a dialog can be found by name (xdotool search
// --name): an alert's title is its message text exactly ("Alert" when the
// message is empty); the open panel's title is "Open".
class GtkDialogs final : public platform::Dialogs {
public:
    explicit GtkDialogs(ShellContext& context) : context_(context) {}

    void showAlert(const platform::AlertContent& alert, platform::Presentation presentation,
                   std::function<void(platform::AlertResult)> done) override;
    void showOpenPanel(const platform::OpenPanelParameters& parameters,
                       std::function<void(int response, std::vector<std::string> paths)> done) override;

private:
    ShellContext& context_;
};

// The window title of an alert with `messageText`.
std::string alertWindowTitle(const std::string& messageText);

}  // namespace corvidale::gtk
