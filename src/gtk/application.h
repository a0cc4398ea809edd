#pragma once

#include <gtk/gtk.h>

#include <optional>
#include <string>

#include "bundle.h"
#include "core/platform/application.h"
#include "shell_context.h"

namespace corvidale::gtk {

// The GtkApplication side of the shell: appearance, the menu bar and the
// commands behind it.
class GtkShellApplication final : public platform::Application {
public:
    GtkShellApplication(ShellContext& context, const GtkBundle& bundle);
    GtkShellApplication(const GtkShellApplication&) = delete;
    GtkShellApplication& operator=(const GtkShellApplication&) = delete;

    void activateIgnoringOtherApps() override;
    std::optional<platform::Appearance> appearance() const override { return appearance_; }
    void setAppearance(platform::Appearance appearance) override;
    void setMainMenu(const platform::MenuBar& menuBar) override;
    void terminate() override;

    // Runs a menu item's action, as the item itself would.
    void perform(platform::MenuAction action);

private:
    static void onMenuAction(GSimpleAction*, GVariant* parameter, gpointer self);
    void showAboutPanel();
    void runEditingCommand(platform::MenuAction action);

    ShellContext& context_;
    const GtkBundle& bundle_;
    std::optional<platform::Appearance> appearance_;
    GSimpleAction* menuAction_ = nullptr;
    GtkWidget* aboutPanel_ = nullptr;
};

}  // namespace corvidale::gtk
