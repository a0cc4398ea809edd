#pragma once

#include "core/platform/dialogs.h"
#include "shell_context.h"

namespace corvidale::gtk {

// Alerts and open panels as plain GTK windows. GTK has no sheets: a sheet is
// a window transient for the main window that goes away with it, while the
// main window's content takes no input; its menu bar and close button keep
// working (quitting or closing answers the sheet with its cancel value). An
// application-modal alert is a modal window. With the main window gone, a
// sheet is not shown and is answered at once with its cancel value.
//
// Window titles, so that a dialog can be found by name (xdotool search
// --name): an alert's title is its message text exactly ("Alert" when the
// message is empty); the open panel's title is "Open".
class GtkDialogs final : public platform::Dialogs {
public:
    explicit GtkDialogs(ShellContext& context) : context_(context) {}
    ~GtkDialogs() override;
    GtkDialogs(const GtkDialogs&) = delete;
    GtkDialogs& operator=(const GtkDialogs&) = delete;

    void showAlert(const platform::AlertContent& alert, platform::Presentation presentation,
                   std::function<void(platform::AlertResult)> done) override;
    void showOpenPanel(const platform::OpenPanelParameters& parameters,
                       std::function<void(int response, std::vector<std::string> paths)> done) override;

    // Ends every sheet on the main window, each answered with its cancel
    // value, and closes the engine's dialogs, for when the window or the
    // whole shell goes.
    void endSheets();
    // The engine shows dialogs of its own over the main window (printing):
    // from now on each gets the keys that quit and close, as the shell's
    // sheets do.
    void watchEngineDialogs();

private:
    static void onSheetDestroy(GtkWidget* sheet, gpointer self);
    static void onEngineDialogDestroy(GtkWidget* dialog, gpointer self);
    static gboolean onWidgetMapped(GSignalInvocationHint*, guint count, const GValue* values, gpointer self);
    // The alert's window, as a sheet or application-modal.
    GtkWindow* alertWindow(const platform::AlertContent& alert, platform::Presentation presentation);
    void beginSheet(GtkWindow* window);

    ShellContext& context_;
    // The sheets showing on the main window, oldest first.
    std::vector<GtkWindow*> sheets_;
    // Windows the engine put over the main window (its print dialog), while
    // they show.
    std::vector<GtkWindow*> engineDialogs_;
    gulong mapHook_ = 0;
};

// The window title of `alert`: its own when it names one, else its message.
std::string alertWindowTitle(const platform::AlertContent& alert);

}  // namespace corvidale::gtk
