#include "shortcuts.h"

#include <webkit/webkit.h>

#include <string>
#include <utility>

namespace corvidale::gtk {
namespace {

constexpr const char* kInstalledKey = "corvidale-menu-shortcuts";
constexpr const char* kShellKeysKey = "corvidale-shell-shortcuts";
// Longer than the engine waits for a reply before it calls a page hung.
constexpr gint64 kKeyAnswerMicroseconds = 5 * G_USEC_PER_SEC;

// Runs the menu command named by the shortcut's arguments, through the same
// application action as a click on the item.
gboolean runMenuCommand(GtkWidget*, GVariant* arguments, gpointer data) {
    auto* context = static_cast<ShellContext*>(data);
    if (context->application == nullptr || arguments == nullptr) return FALSE;
    context->keyAwaitingPage.reset();
    g_action_group_activate_action(G_ACTION_GROUP(context->application), kMenuActionName, arguments);
    return TRUE;
}

// Declining leaves the key to the page, which gets it first as usual. A page
// that is busy, or whose process is gone, never hands a key back.
gboolean runMenuCommandIfPageCannotAnswer(GtkWidget* widget, GVariant* arguments, gpointer data) {
    auto* context = static_cast<ShellContext*>(data);
    WebKitWebView* view = context->mainWebView;
    if (view == nullptr || arguments == nullptr) return FALSE;
    if (webkit_web_view_get_is_web_process_responsive(view) && !context->pageProcessGone) {
        // A page that has just hung still counts as responsive: this key may
        // be the first thing it leaves unanswered.
        context->keyAwaitingPage = platform::menuActionNamed(g_variant_get_string(arguments, nullptr));
        context->keyAwaitingPageTime = g_get_monotonic_time();
        return FALSE;
    }
    return runMenuCommand(widget, arguments, data);
}

bool isShellOrReload(platform::MenuAction action) {
    return isShellCommand(action) || action == platform::MenuAction::Reload;
}

GtkEventController* shortcutController(ShellContext& context, GtkPropagationPhase phase, GtkShortcutFunc run,
                                       bool (*wanted)(platform::MenuAction action)) {
    GtkEventController* controller = gtk_shortcut_controller_new();
    gtk_event_controller_set_propagation_phase(controller, phase);
    for (const auto& entry : context.menuShortcuts) {
        if (wanted != nullptr && !wanted(entry.action)) continue;
        GtkShortcutTrigger* trigger = gtk_shortcut_trigger_parse_string(entry.accelerator.c_str());
        if (trigger == nullptr) continue;
        GtkShortcut* shortcut = gtk_shortcut_new(trigger, gtk_callback_action_new(run, &context, nullptr));
        gtk_shortcut_set_arguments(shortcut, g_variant_new_string(std::string(platform::selectorOf(entry.action)).c_str()));
        gtk_shortcut_controller_add_shortcut(GTK_SHORTCUT_CONTROLLER(controller), shortcut);
    }
    return controller;
}

}  // namespace

bool isShellCommand(platform::MenuAction action) {
    return action == platform::MenuAction::Quit || action == platform::MenuAction::Close;
}

void pageStoppedAnswering(ShellContext& context) {
    const auto action = std::exchange(context.keyAwaitingPage, std::nullopt);
    if (!action || context.application == nullptr ||
        g_get_monotonic_time() - context.keyAwaitingPageTime > kKeyAnswerMicroseconds) {
        return;
    }
    g_action_group_activate_action(G_ACTION_GROUP(context.application), kMenuActionName,
                                   g_variant_new_string(std::string(platform::selectorOf(*action)).c_str()));
}

void installMenuShortcuts(ShellContext& context, GtkWindow* window) {
    if (g_object_get_data(G_OBJECT(window), kInstalledKey) != nullptr) return;
    g_object_set_data(G_OBJECT(window), kInstalledKey, GINT_TO_POINTER(1));
    // Bubble phase: the web view stops every key on its way in and sends it
    // to the page; only a key the page did not handle comes up to here.
    gtk_widget_add_controller(GTK_WIDGET(window),
                              shortcutController(context, GTK_PHASE_BUBBLE, runMenuCommand, nullptr));
    gtk_widget_add_controller(GTK_WIDGET(window), shortcutController(context, GTK_PHASE_CAPTURE,
                                                                     runMenuCommandIfPageCannotAnswer, isShellOrReload));
}

bool hasShellShortcuts(GtkWindow* dialog) { return g_object_get_data(G_OBJECT(dialog), kShellKeysKey) != nullptr; }

void installShellShortcuts(ShellContext& context, GtkWindow* dialog) {
    if (hasShellShortcuts(dialog)) return;
    g_object_set_data(G_OBJECT(dialog), kShellKeysKey, GINT_TO_POINTER(1));
    gtk_widget_add_controller(GTK_WIDGET(dialog),
                              shortcutController(context, GTK_PHASE_CAPTURE, runMenuCommand, isShellCommand));
}

}  // namespace corvidale::gtk
