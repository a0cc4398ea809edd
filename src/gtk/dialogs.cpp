#include "dialogs.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "main_queue.h"
#include "shortcuts.h"

namespace corvidale::gtk {
namespace {

using platform::AlertResult;

constexpr int kDialogMargin = 18;
constexpr int kDialogSpacing = 12;
constexpr int kMessageWidthChars = 50;
// Taller messages scroll inside the alert.
constexpr int kMessageMaxHeight = 400;
constexpr int kNotesHeight = 160;
// Pango's word wrapping takes time that grows with the square of a word's
// length (a 10 000-character word takes seconds); past this many characters
// without a space the text is wrapped anywhere instead.
constexpr long kLongestWordWrapped = 200;

bool hasOverlongWord(const std::string& text) {
    if (!g_utf8_validate(text.c_str(), static_cast<gssize>(text.size()), nullptr)) return true;
    long run = 0;
    for (const char* p = text.c_str(); *p != '\0'; p = g_utf8_next_char(p)) {
        run = g_unichar_isspace(g_utf8_get_char(p)) ? 0 : run + 1;
        if (run > kLongestWordWrapped) return true;
    }
    return false;
}

// The window's content takes no input while a sheet is in front of it, as
// under a sheet on the desktop platform. The window itself stays live: its
// menu bar and its close button keep working, which a modal GTK window would
// prevent (a modal window takes every event of the others for itself).
void setContentEnabled(ShellContext& context, bool enabled) {
    if (context.mainWindow == nullptr) return;
    GtkWidget* content = gtk_window_get_child(context.mainWindow);
    if (content == nullptr) return;
    gtk_widget_set_sensitive(content, enabled);
    // Disabling took the keyboard focus away from the page; give it back.
    if (enabled && gtk_window_get_focus(context.mainWindow) == nullptr) {
        gtk_widget_grab_focus(context.mainWebView != nullptr ? GTK_WIDGET(context.mainWebView) : content);
    }
}

void forget(std::vector<GtkWindow*>& windows, GtkWidget* window) {
    windows.erase(std::remove(windows.begin(), windows.end(), GTK_WINDOW(window)), windows.end());
}

// Runs `answer` from the main loop. A request is never answered from inside
// itself: the engine is not ready for the answer before the request returns.
void answerLater(std::function<void()> answer) { postToMainLoop(std::move(answer), G_PRIORITY_DEFAULT_IDLE); }

// A page's text can be long enough to fill several screens.
GtkWidget* scrollingWhenTall(GtkWidget* child) {
    GtkWidget* scroller = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_propagate_natural_width(GTK_SCROLLED_WINDOW(scroller), TRUE);
    gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(scroller), TRUE);
    gtk_scrolled_window_set_max_content_height(GTK_SCROLLED_WINDOW(scroller), kMessageMaxHeight);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), child);
    return scroller;
}

// One open alert. It belongs to its window and goes away with it; the
// answer is delivered exactly once, by the first of: a button, Escape, the
// window being closed, the window being destroyed with its parent.
struct AlertState {
    std::function<void(AlertResult)> done;
    GtkWindow* window = nullptr;
    std::string text;
    bool checked = false;
    bool finished = false;

    AlertResult result(int response) const { return {response, text, checked}; }
};

void finishAlert(AlertState* state, int response) {
    if (state->finished) return;
    state->finished = true;
    AlertResult result = state->result(response);
    auto done = std::move(state->done);
    // Destroying the window frees `state`; nothing of it is used afterwards.
    gtk_window_destroy(state->window);
    if (done) done(std::move(result));
}

void onAlertButton(GtkButton* button, gpointer data) {
    const int response = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "corvidale-response"));
    finishAlert(static_cast<AlertState*>(data), response);
}

gboolean onAlertEscape(GtkWidget*, GVariant*, gpointer data) {
    finishAlert(static_cast<AlertState*>(data), platform::kModalResponseAbort);
    return TRUE;
}

gboolean onAlertCloseRequest(GtkWindow*, gpointer data) {
    finishAlert(static_cast<AlertState*>(data), platform::kModalResponseAbort);
    return TRUE;  // finishAlert has destroyed it already
}

void onAlertDestroy(GtkWidget*, gpointer data) {
    std::unique_ptr<AlertState> state(static_cast<AlertState*>(data));
    if (state->finished) return;
    // Destroyed from outside, e.g. together with the main window.
    state->finished = true;
    if (state->done) state->done(state->result(platform::kModalResponseAbort));
}

void onAlertTextChanged(GtkEditable* editable, gpointer data) {
    static_cast<AlertState*>(data)->text = gtk_editable_get_text(editable);
}

void onAlertToggled(GtkCheckButton* check, gpointer data) {
    static_cast<AlertState*>(data)->checked = gtk_check_button_get_active(check);
}

GtkWidget* wrappedLabel(const std::string& text, bool bold) {
    GtkWidget* label = gtk_label_new(nullptr);
    if (bold) {
        g_autofree gchar* escaped = g_markup_escape_text(text.c_str(), -1);
        g_autofree gchar* markup = g_strdup_printf("<b>%s</b>", escaped);
        gtk_label_set_markup(GTK_LABEL(label), markup);
    } else {
        gtk_label_set_text(GTK_LABEL(label), text.c_str());
    }
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    if (hasOverlongWord(text)) {
        gtk_label_set_wrap_mode(GTK_LABEL(label), PANGO_WRAP_CHAR);
        // A hyphen at the break would look like part of the text.
        g_autoptr(PangoAttrList) attributes = pango_attr_list_new();
        pango_attr_list_insert(attributes, pango_attr_insert_hyphens_new(FALSE));
        gtk_label_set_attributes(GTK_LABEL(label), attributes);
    } else {
        gtk_label_set_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    }
    gtk_label_set_max_width_chars(GTK_LABEL(label), kMessageWidthChars);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    return label;
}

GtkWidget* alertTexts(const platform::AlertContent& alert) {
    GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, kDialogSpacing);
    gtk_box_append(GTK_BOX(texts), wrappedLabel(alert.messageText, true));
    if (alert.informativeText) gtk_box_append(GTK_BOX(texts), wrappedLabel(*alert.informativeText, false));
    return scrollingWhenTall(texts);
}

// Read-only and scrolling, whatever its length; reachable with Tab for a
// screen reader to read.
GtkWidget* alertNotes(const std::string& notes) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    GtkWidget* heading = wrappedLabel("What's new", true);
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), notes.c_str(), -1);
    gtk_accessible_update_property(GTK_ACCESSIBLE(view), GTK_ACCESSIBLE_PROPERTY_LABEL, "What's new", -1);
    GtkWidget* scroller = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_has_frame(GTK_SCROLLED_WINDOW(scroller), TRUE);
    gtk_widget_set_size_request(scroller, -1, kNotesHeight);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), view);
    gtk_box_append(GTK_BOX(box), heading);
    gtk_box_append(GTK_BOX(box), scroller);
    return box;
}

GtkWidget* alertTextField(const platform::TextField& field, AlertState* state) {
    GtkWidget* entry = gtk_entry_new();
    // The given text is where the field starts, not an edit: undo must not
    // take it away.
    gtk_editable_set_enable_undo(GTK_EDITABLE(entry), FALSE);
    gtk_editable_set_text(GTK_EDITABLE(entry), field.text.c_str());
    gtk_editable_set_enable_undo(GTK_EDITABLE(entry), TRUE);
    gtk_widget_set_size_request(entry, static_cast<int>(field.width), static_cast<int>(field.height));
    gtk_widget_set_halign(entry, GTK_ALIGN_START);
    // Return in the field answers with the first button.
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    g_signal_connect(entry, "changed", G_CALLBACK(onAlertTextChanged), state);
    return entry;
}

GtkWidget* alertCheckbox(const platform::Checkbox& checkbox, AlertState* state) {
    GtkWidget* check = gtk_check_button_new_with_label(checkbox.title.c_str());
    gtk_check_button_set_active(GTK_CHECK_BUTTON(check), checkbox.on);
    g_signal_connect(check, "toggled", G_CALLBACK(onAlertToggled), state);
    return check;
}

// The first button stands at the right, the others to its left in order, as
// on the desktop platform and in GNOME's dialogs. An alert without buttons
// gets "OK", as on the desktop platform.
GtkWidget* alertButtons(const std::vector<std::string>& buttons, AlertState* state, GtkWidget*& firstButton) {
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_widget_set_halign(row, GTK_ALIGN_END);
    gtk_widget_set_margin_top(row, 6);
    const std::vector<std::string> titles = buttons.empty() ? std::vector<std::string>{"OK"} : buttons;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        GtkWidget* button = gtk_button_new_with_label(titles[i].c_str());
        g_object_set_data(G_OBJECT(button), "corvidale-response",
                          GINT_TO_POINTER(platform::kAlertFirstButtonReturn + static_cast<int>(i)));
        g_signal_connect(button, "clicked", G_CALLBACK(onAlertButton), state);
        gtk_box_prepend(GTK_BOX(row), button);
        if (i == 0) firstButton = button;
    }
    return row;
}

// Return answers with the first button, Escape like closing the window; the
// answer comes once, however the alert ends.
void connectAlert(AlertState* state, GtkWidget* firstButton) {
    GtkWindow* window = state->window;
    gtk_widget_add_css_class(firstButton, "suggested-action");
    gtk_window_set_default_widget(window, firstButton);
    GtkEventController* shortcuts = gtk_shortcut_controller_new();
    gtk_shortcut_controller_add_shortcut(
        GTK_SHORTCUT_CONTROLLER(shortcuts),
        gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, GdkModifierType(0)),
                         gtk_callback_action_new(onAlertEscape, state, nullptr)));
    gtk_widget_add_controller(GTK_WIDGET(window), shortcuts);
    g_signal_connect(window, "close-request", G_CALLBACK(onAlertCloseRequest), state);
    g_signal_connect(window, "destroy", G_CALLBACK(onAlertDestroy), state);
}

struct OpenPanelState {
    std::function<void(int, std::vector<std::string>)> done;
    bool finished = false;
};

G_GNUC_BEGIN_IGNORE_DEPRECATIONS

void onOpenPanelResponse(GtkDialog* dialog, int response, gpointer data) {
    auto* state = static_cast<OpenPanelState*>(data);
    if (state->finished) return;
    state->finished = true;
    std::vector<std::string> paths;
    int answer = platform::kModalResponseCancel;
    if (response == GTK_RESPONSE_ACCEPT) {
        answer = platform::kModalResponseOK;
        g_autoptr(GListModel) files = gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog));
        const guint count = g_list_model_get_n_items(files);
        for (guint i = 0; i < count; ++i) {
            g_autoptr(GFile) file = G_FILE(g_list_model_get_item(files, i));
            g_autofree gchar* path = g_file_get_path(file);
            if (path != nullptr) paths.emplace_back(path);
        }
    }
    auto done = std::move(state->done);
    gtk_window_destroy(GTK_WINDOW(dialog));  // frees `state`
    if (done) done(answer, std::move(paths));
}

G_GNUC_END_IGNORE_DEPRECATIONS

void onOpenPanelDestroy(GtkWidget*, gpointer data) {
    std::unique_ptr<OpenPanelState> state(static_cast<OpenPanelState*>(data));
    if (state->finished) return;
    state->finished = true;
    if (state->done) state->done(platform::kModalResponseCancel, {});
}

}  // namespace

void GtkDialogs::onSheetDestroy(GtkWidget* sheet, gpointer self) {
    auto* dialogs = static_cast<GtkDialogs*>(self);
    forget(dialogs->sheets_, sheet);
    if (dialogs->sheets_.empty()) setContentEnabled(dialogs->context_, true);
}

// Shows `window` as a sheet on the main window: in front of it, closed with
// it, and answerable by the keys that quit or close.
void GtkDialogs::beginSheet(GtkWindow* window) {
    gtk_window_set_transient_for(window, context_.mainWindow);
    gtk_window_set_destroy_with_parent(window, TRUE);
    installShellShortcuts(context_, window);
    sheets_.push_back(window);
    if (sheets_.size() == 1) setContentEnabled(context_, false);
    g_signal_connect(window, "destroy", G_CALLBACK(&GtkDialogs::onSheetDestroy), this);
}

void GtkDialogs::endSheets() {
    const auto sheets = sheets_;
    for (GtkWindow* sheet : sheets) gtk_window_destroy(sheet);
    // The engine waits for its dialog's answer in a loop of its own, which
    // closing answers; the shell can only end once that loop has.
    const auto engineDialogs = engineDialogs_;
    for (GtkWindow* dialog : engineDialogs) gtk_window_close(dialog);
}

void GtkDialogs::onEngineDialogDestroy(GtkWidget* dialog, gpointer self) {
    forget(static_cast<GtkDialogs*>(self)->engineDialogs_, dialog);
}

gboolean GtkDialogs::onWidgetMapped(GSignalInvocationHint*, guint count, const GValue* values, gpointer self) {
    auto* dialogs = static_cast<GtkDialogs*>(self);
    auto& context = dialogs->context_;
    auto* object = count > 0 ? static_cast<GObject*>(g_value_get_object(&values[0])) : nullptr;
    if (!GTK_IS_WINDOW(object) || context.mainWindow == nullptr) return TRUE;
    auto* window = GTK_WINDOW(object);
    if (gtk_window_get_transient_for(window) != context.mainWindow || hasShellShortcuts(window)) return TRUE;
    installShellShortcuts(context, window);
    dialogs->engineDialogs_.push_back(window);
    g_signal_connect(window, "destroy", G_CALLBACK(&GtkDialogs::onEngineDialogDestroy), dialogs);
    return TRUE;  // stay for the next one
}

void GtkDialogs::watchEngineDialogs() {
    if (mapHook_ != 0) return;
    mapHook_ = g_signal_add_emission_hook(g_signal_lookup("map", GTK_TYPE_WIDGET), 0, &GtkDialogs::onWidgetMapped,
                                          this, nullptr);
}

GtkDialogs::~GtkDialogs() {
    if (mapHook_ != 0) g_signal_remove_emission_hook(g_signal_lookup("map", GTK_TYPE_WIDGET), mapHook_);
}

std::string alertWindowTitle(const platform::AlertContent& alert) {
    if (alert.windowTitle) return *alert.windowTitle;
    return alert.messageText.empty() ? std::string("Alert") : alert.messageText;
}

GtkWindow* GtkDialogs::alertWindow(const platform::AlertContent& alert, platform::Presentation presentation) {
    GtkWindow* window = GTK_WINDOW(gtk_window_new());
    gtk_window_set_title(window, alertWindowTitle(alert).c_str());
    gtk_window_set_resizable(window, FALSE);
    if (presentation == platform::Presentation::SheetOnWindow) {
        beginSheet(window);
        return window;
    }
    // An application-modal alert blocks the whole application, which here
    // is the main window.
    gtk_window_set_modal(window, TRUE);
    if (context_.mainWindow != nullptr) {
        gtk_window_set_transient_for(window, context_.mainWindow);
        gtk_window_set_destroy_with_parent(window, TRUE);
    }
    installShellShortcuts(context_, window);
    return window;
}

void GtkDialogs::showAlert(const platform::AlertContent& alert, platform::Presentation presentation,
                           std::function<void(platform::AlertResult)> done) {
    if (presentation == platform::Presentation::SheetOnWindow && context_.mainWindow == nullptr) {
        // No window to show it on: a sheet ends with the window.
        answerLater([done = std::move(done)] {
            if (done) done(platform::AlertResult{});
        });
        return;
    }
    auto* state = new AlertState;
    state->done = std::move(done);
    if (alert.textField) state->text = alert.textField->text;
    if (alert.checkbox) state->checked = alert.checkbox->on;
    state->window = alertWindow(alert, presentation);

    GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, kDialogSpacing);
    gtk_widget_set_margin_top(content, kDialogMargin);
    gtk_widget_set_margin_bottom(content, kDialogMargin);
    gtk_widget_set_margin_start(content, kDialogMargin);
    gtk_widget_set_margin_end(content, kDialogMargin);
    gtk_box_append(GTK_BOX(content), alertTexts(alert));
    if (alert.notes) gtk_box_append(GTK_BOX(content), alertNotes(*alert.notes));
    GtkWidget* entry = alert.textField ? alertTextField(*alert.textField, state) : nullptr;
    if (entry != nullptr) gtk_box_append(GTK_BOX(content), entry);
    if (alert.checkbox) gtk_box_append(GTK_BOX(content), alertCheckbox(*alert.checkbox, state));
    GtkWidget* firstButton = nullptr;
    gtk_box_append(GTK_BOX(content), alertButtons(alert.buttons, state, firstButton));
    gtk_window_set_child(state->window, content);

    connectAlert(state, firstButton);
    gtk_window_set_focus(state->window, entry != nullptr ? entry : firstButton);
    gtk_window_present(state->window);
}

void GtkDialogs::showOpenPanel(const platform::OpenPanelParameters& parameters,
                               std::function<void(int response, std::vector<std::string> paths)> done) {
    if (context_.mainWindow == nullptr) {
        answerLater([done = std::move(done)] {
            if (done) done(platform::kModalResponseCancel, {});
        });
        return;
    }
    auto* state = new OpenPanelState;
    state->done = std::move(done);

    // The dialog, not GtkFileChooserNative: the native chooser may go
    // through a desktop portal, which the shell must not depend on.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkWidget* dialog = gtk_file_chooser_dialog_new("Open", context_.mainWindow, GTK_FILE_CHOOSER_ACTION_OPEN,
                                                    "_Cancel", GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT,
                                                    nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    // GTK's chooser picks either files or folders. Files stay choosable
    // always, so a request that also allows folders still gets files.
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(dialog), parameters.allowsMultipleSelection);
    G_GNUC_END_IGNORE_DEPRECATIONS

    beginSheet(GTK_WINDOW(dialog));
    g_signal_connect(dialog, "response", G_CALLBACK(onOpenPanelResponse), state);
    g_signal_connect(dialog, "destroy", G_CALLBACK(onOpenPanelDestroy), state);
    gtk_window_present(GTK_WINDOW(dialog));
}

}  // namespace corvidale::gtk
