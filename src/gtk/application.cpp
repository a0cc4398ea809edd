#include "application.h"

#include <webkit/webkit.h>

#include <map>
#include <vector>

#include "accelerators.h"
#include "dialogs.h"
#include "shortcuts.h"

namespace corvidale::gtk {
namespace {

// Every menu item runs one action with its selector as the target, so that
// no action needs a GAction of its own.
constexpr const char* kMenuDetailedPrefix = "app.menu-command";

std::string applicationName(const GtkBundle& bundle) {
    const auto name = bundle.infoString("CFBundleName");
    return name && !name->empty() ? *name : std::string("Corvidale");
}

// The items' keys are not the application's accelerators: GTK would run
// those before the page sees the key. The menu only shows them; the window's
// shortcuts run them (see shortcuts.h).
GMenu* buildSection(const std::vector<platform::MenuItem>& items, std::size_t begin, std::size_t end,
                    std::vector<MenuShortcut>& shortcuts) {
    GMenu* section = g_menu_new();
    for (std::size_t i = begin; i < end; ++i) {
        const auto& item = items[i];
        g_autoptr(GMenuItem) entry = g_menu_item_new(menuLabel(item.title).c_str(), nullptr);
        if (item.action) {
            const std::string selector(platform::selectorOf(*item.action));
            g_menu_item_set_action_and_target_value(entry, kMenuDetailedPrefix, g_variant_new_string(selector.c_str()));
            const auto accelerators = acceleratorsForKeyEquivalent(item.keyEquivalent);
            if (!accelerators.empty()) g_menu_item_set_attribute(entry, "accel", "s", accelerators.front().c_str());
            for (const auto& accelerator : accelerators) shortcuts.push_back({accelerator, *item.action});
        }
        g_menu_append_item(section, entry);
    }
    return section;
}

}  // namespace

GtkShellApplication::GtkShellApplication(ShellContext& context, const GtkBundle& bundle)
    : context_(context), bundle_(bundle) {}

void GtkShellApplication::activateIgnoringOtherApps() {
    if (context_.mainWindow != nullptr) gtk_window_present(context_.mainWindow);
}

void GtkShellApplication::setAppearance(platform::Appearance appearance) {
    appearance_ = appearance;
    if (GtkSettings* settings = gtk_settings_get_default()) {
        g_object_set(settings, "gtk-application-prefer-dark-theme", appearance == platform::Appearance::Dark, nullptr);
    }
}

void GtkShellApplication::setMainMenu(const platform::MenuBar& menuBar) {
    GtkApplication* application = context_.application;
    if (menuAction_ == nullptr) {
        menuAction_ = g_simple_action_new(kMenuActionName, G_VARIANT_TYPE_STRING);
        g_signal_connect(menuAction_, "activate", G_CALLBACK(&GtkShellApplication::onMenuAction), this);
        g_action_map_add_action(G_ACTION_MAP(application), G_ACTION(menuAction_));
    }

    context_.menuShortcuts.clear();
    g_autoptr(GMenu) bar = g_menu_new();
    for (const auto& menu : menuBar.menus) {
        g_autoptr(GMenu) submenu = g_menu_new();
        // Separators become section boundaries; empty sections are dropped.
        std::size_t begin = 0;
        for (std::size_t i = 0; i <= menu.items.size(); ++i) {
            if (i < menu.items.size() && !menu.items[i].separator) continue;
            if (i > begin) {
                g_autoptr(GMenu) section = buildSection(menu.items, begin, i, context_.menuShortcuts);
                g_menu_append_section(submenu, nullptr, G_MENU_MODEL(section));
            }
            begin = i + 1;
        }
        // The application menu has no title of its own; it bears the
        // application's name, as the desktop platform shows it.
        const std::string title = menu.title.empty() ? applicationName(bundle_) : menu.title;
        g_menu_append_submenu(bar, menuLabel(title).c_str(), G_MENU_MODEL(submenu));
    }
    // GTK has no windows menu that lists the open windows, so
    // windowsMenuIndex has nothing to point at.
    gtk_application_set_menubar(application, G_MENU_MODEL(bar));

    GList* windows = gtk_application_get_windows(application);
    for (GList* entry = windows; entry != nullptr; entry = entry->next) {
        if (GTK_IS_APPLICATION_WINDOW(entry->data)) {
            gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(entry->data), TRUE);
            installMenuShortcuts(context_, GTK_WINDOW(entry->data));
        }
    }
    // A window that is already on screen took the application's menu bar when
    // it was realized, before there was one. It looks again whenever the
    // desktop changes whether the shell shows menu bars; telling it so makes
    // it pick up the new one.
    if (GtkSettings* settings = gtk_settings_get_default()) g_object_notify(G_OBJECT(settings), "gtk-shell-shows-menubar");
}

void GtkShellApplication::terminate() {
    // A page waiting for its dialog gets the dialog's cancel value.
    if (context_.dialogs != nullptr) context_.dialogs->endSheets();
    g_application_quit(G_APPLICATION(context_.application));
}

void GtkShellApplication::onMenuAction(GSimpleAction*, GVariant* parameter, gpointer self) {
    if (parameter == nullptr || !g_variant_is_of_type(parameter, G_VARIANT_TYPE_STRING)) return;
    const auto action = platform::menuActionNamed(g_variant_get_string(parameter, nullptr));
    if (action) static_cast<GtkShellApplication*>(self)->perform(*action);
}

void GtkShellApplication::perform(platform::MenuAction action) {
    using platform::MenuAction;
    if (platform::isApplicationAction(action)) {
        if (context_.delegate != nullptr) context_.delegate->performMenuAction(action);
        return;
    }
    GtkWindow* window = context_.mainWindow;
    switch (action) {
    case MenuAction::About:
        showAboutPanel();
        break;
    case MenuAction::Hide:
    case MenuAction::Minimize:
        // There is no hiding an application on Linux desktops; the window
        // goes out of the way instead.
        if (window != nullptr) gtk_window_minimize(window);
        break;
    case MenuAction::Quit:
        terminate();
        break;
    case MenuAction::ToggleFullScreen:
        if (window != nullptr && gtk_window_is_fullscreen(window)) {
            gtk_window_unfullscreen(window);
        } else if (window != nullptr) {
            gtk_window_fullscreen(window);
        }
        break;
    case MenuAction::Close:
        if (window != nullptr) gtk_window_close(window);
        break;
    default:
        runEditingCommand(action);
    }
}

void GtkShellApplication::runEditingCommand(platform::MenuAction action) {
    using platform::MenuAction;
    static const std::map<MenuAction, const char*> kCommands = {
        {MenuAction::Undo, WEBKIT_EDITING_COMMAND_UNDO},   {MenuAction::Redo, WEBKIT_EDITING_COMMAND_REDO},
        {MenuAction::Cut, WEBKIT_EDITING_COMMAND_CUT},     {MenuAction::Copy, WEBKIT_EDITING_COMMAND_COPY},
        {MenuAction::Paste, WEBKIT_EDITING_COMMAND_PASTE}, {MenuAction::SelectAll, WEBKIT_EDITING_COMMAND_SELECT_ALL},
    };
    const auto command = kCommands.find(action);
    // The Edit items act on the page's editing: clicked in the menu, or
    // pressed as keys that the page itself left unhandled.
    if (command != kCommands.end() && context_.mainWebView != nullptr) {
        webkit_web_view_execute_editing_command(context_.mainWebView, command->second);
    }
}

void GtkShellApplication::showAboutPanel() {
    if (aboutPanel_ != nullptr) {
        gtk_window_present(GTK_WINDOW(aboutPanel_));
        return;
    }
    const std::string name = applicationName(bundle_);
    std::string version = bundle_.infoString("CFBundleShortVersionString").value_or("");
    if (const auto build = bundle_.infoString("CFBundleVersion"); build && !build->empty()) {
        version += (version.empty() ? "" : " ") + ("(" + *build + ")");
    }
    aboutPanel_ = gtk_about_dialog_new();
    GtkAboutDialog* about = GTK_ABOUT_DIALOG(aboutPanel_);
    gtk_about_dialog_set_program_name(about, name.c_str());
    if (!version.empty()) gtk_about_dialog_set_version(about, version.c_str());
    gtk_window_set_title(GTK_WINDOW(about), ("About " + name).c_str());
    if (context_.mainWindow != nullptr) gtk_window_set_transient_for(GTK_WINDOW(about), context_.mainWindow);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(about), TRUE);
    g_object_add_weak_pointer(G_OBJECT(aboutPanel_), reinterpret_cast<gpointer*>(&aboutPanel_));
    gtk_window_present(GTK_WINDOW(about));
}

}  // namespace corvidale::gtk
