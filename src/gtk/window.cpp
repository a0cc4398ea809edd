#include "window.h"

#include <cmath>
#include <cstdio>

#include "dialogs.h"
#include "web_view.h"

namespace corvidale::gtk {
namespace {

// Resizing sends a stream of size changes; the size is saved once it rests.
constexpr guint kSaveDelayMs = 400;
constexpr int kLargestSide = 32767;  // X11's limit

int pixels(double points) {
    if (!(points > 0)) return 0;
    return points >= kLargestSide ? kLargestSide : static_cast<int>(std::lround(points));
}

}  // namespace

bool parseSavedFrame(const std::string& text, int& width, int& height) {
    int w = 0;
    int h = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%d %d %c", &w, &h, &extra) != 2) return false;
    if (w <= 0 || h <= 0 || w > kLargestSide || h > kLargestSide) return false;
    width = w;
    height = h;
    return true;
}

GtkShellWindow::GtkShellWindow(ShellContext& context, platform::Defaults& defaults, const platform::WindowShape& shape)
    : context_(context),
      defaults_(defaults),
      window_(GTK_WINDOW(g_object_ref(gtk_application_window_new(context.application)))) {
    // The content rectangle is the window's size inside its decorations; the
    // menu bar, once installed, is part of it. Its origin is left to the
    // window manager.
    const int width = pixels(shape.contentRect.width);
    const int height = pixels(shape.contentRect.height);
    if (width > 0 && height > 0) gtk_window_set_default_size(window_.get(), width, height);
    gtk_window_set_decorated(window_.get(), (shape.styleMask & platform::WindowStyleTitled) != 0);
    gtk_window_set_deletable(window_.get(), (shape.styleMask & platform::WindowStyleClosable) != 0);
    gtk_window_set_resizable(window_.get(), (shape.styleMask & platform::WindowStyleResizable) != 0);

    g_signal_connect(window_.get(), "close-request", G_CALLBACK(&GtkShellWindow::onCloseRequest), this);
    // The page keeps Tab to itself; F6 moves the keyboard between it and the
    // strip of long work, before the page sees the key.
    GtkEventController* panes = gtk_shortcut_controller_new();
    gtk_event_controller_set_propagation_phase(panes, GTK_PHASE_CAPTURE);
    for (const GdkModifierType modifiers : {GdkModifierType(0), GDK_SHIFT_MASK}) {
        gtk_shortcut_controller_add_shortcut(
            GTK_SHORTCUT_CONTROLLER(panes), gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_F6, modifiers),
                                                             gtk_callback_action_new(onSwitchPane, this, nullptr)));
    }
    gtk_widget_add_controller(GTK_WIDGET(window_.get()), panes);
    g_signal_connect(window_.get(), "destroy", G_CALLBACK(&GtkShellWindow::onDestroy), this);
    g_signal_connect(window_.get(), "notify::default-width", G_CALLBACK(&GtkShellWindow::onSizeChanged), this);
    g_signal_connect(window_.get(), "notify::default-height", G_CALLBACK(&GtkShellWindow::onSizeChanged), this);

    if (context_.mainWindow == nullptr) {
        context_.mainWindow = window_.get();
        if (context_.dialogs != nullptr) context_.dialogs->watchEngineDialogs();
    }
}

GtkShellWindow::~GtkShellWindow() {
    if (saveTimer_ != 0) g_source_remove(saveTimer_);
    g_signal_handlers_disconnect_by_data(window_.get(), this);
    if (context_.mainWindow == window_.get()) context_.mainWindow = nullptr;
    gtk_window_destroy(window_.get());
}

void GtkShellWindow::setTitle(const std::string& title) { gtk_window_set_title(window_.get(), title.c_str()); }

void GtkShellWindow::setMovableByWindowBackground(bool) {
    // GTK moves windows by their title bar (or a header bar) only; there is
    // no background dragging to switch on.
}

void GtkShellWindow::setMinSize(platform::Size size) {
    // GTK limits the window's content; with server-side decorations the
    // title bar belongs to the window manager and cannot be counted in.
    gtk_widget_set_size_request(GTK_WIDGET(window_.get()), pixels(size.width), pixels(size.height));
}

void GtkShellWindow::setContentView(platform::WebView& view) {
    auto& webView = static_cast<GtkWebView&>(view);
    // The strip of long work goes under the page, never over it.
    if (GtkWidget* old = gtk_widget_get_parent(strip_.widget())) gtk_box_remove(GTK_BOX(old), strip_.widget());
    GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_vexpand(GTK_WIDGET(webView.widget()), TRUE);
    gtk_box_append(GTK_BOX(content), GTK_WIDGET(webView.widget()));
    gtk_box_append(GTK_BOX(content), strip_.widget());
    gtk_window_set_child(window_.get(), content);
    if (context_.mainWindow == window_.get()) context_.mainWebView = webView.widget();
}

void GtkShellWindow::setFrameAutosaveName(const std::string& name) {
    autosaveKey_ = name.empty() ? std::string() : "NSWindow Frame " + name;
    if (autosaveKey_.empty()) return;
    int width = 0;
    int height = 0;
    if (const auto saved = defaults_.string(autosaveKey_); saved && parseSavedFrame(*saved, width, height)) {
        // Never smaller than the window may be made by hand.
        int minimumWidth = 0;
        int minimumHeight = 0;
        gtk_widget_get_size_request(GTK_WIDGET(window_.get()), &minimumWidth, &minimumHeight);
        gtk_window_set_default_size(window_.get(), std::max(width, minimumWidth), std::max(height, minimumHeight));
        savedFrame_ = *saved;
    }
}

void GtkShellWindow::center() {
    // GTK 4 cannot place a window: where it appears is up to the window
    // manager, which usually centres new windows or places them smartly.
}

void GtkShellWindow::makeKeyAndOrderFront() {
    gtk_window_present(window_.get());
    // Send the map request now: the process may end before the main loop
    // next runs (an invalid origin ends it during startup), and the window
    // should still have been shown.
    if (GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window_.get()))) gdk_display_flush(display);
}

gboolean GtkShellWindow::onSwitchPane(GtkWidget*, GVariant*, gpointer self) {
    auto* window = static_cast<GtkShellWindow*>(self);
    GtkWidget* focus = gtk_window_get_focus(window->window_.get());
    const bool inStrip = focus != nullptr && gtk_widget_is_ancestor(focus, window->strip_.widget());
    if (!inStrip && window->strip_.focusFirst()) return TRUE;
    GtkWidget* content = gtk_window_get_child(window->window_.get());
    GtkWidget* page = content != nullptr ? gtk_widget_get_first_child(content) : nullptr;
    return page != nullptr && gtk_widget_grab_focus(page);
}

void GtkShellWindow::onSizeChanged(GObject*, GParamSpec*, gpointer self) {
    auto* window = static_cast<GtkShellWindow*>(self);
    if (window->autosaveKey_.empty()) return;
    if (window->saveTimer_ != 0) g_source_remove(window->saveTimer_);
    window->saveTimer_ = g_timeout_add(kSaveDelayMs, &GtkShellWindow::saveSoon, window);
}

gboolean GtkShellWindow::saveSoon(gpointer self) {
    auto* window = static_cast<GtkShellWindow*>(self);
    window->saveTimer_ = 0;
    window->saveFrame();
    return G_SOURCE_REMOVE;
}

void GtkShellWindow::saveFrame() {
    if (autosaveKey_.empty()) return;
    // GTK keeps the size from before maximizing or going full screen as the
    // default size; that is the one worth restoring.
    int width = 0;
    int height = 0;
    gtk_window_get_default_size(window_.get(), &width, &height);
    if (width <= 0 || height <= 0) return;
    const std::string frame = std::to_string(width) + " " + std::to_string(height);
    if (frame == savedFrame_) return;
    savedFrame_ = frame;
    defaults_.setString(autosaveKey_, frame);
}

gboolean GtkShellWindow::onCloseRequest(GtkWindow*, gpointer self) {
    auto* window = static_cast<GtkShellWindow*>(self);
    if (window->saveTimer_ != 0) {
        g_source_remove(window->saveTimer_);
        window->saveTimer_ = 0;
    }
    window->saveFrame();
    // The window's sheets go with it, answered with their cancel values. GTK
    // would only end them when the window is finalized, which the reference
    // kept here prevents.
    if (window->context_.mainWindow == window->window_.get() && window->context_.dialogs != nullptr) {
        window->context_.dialogs->endSheets();
    }
    return FALSE;  // close it
}

void GtkShellWindow::onDestroy(GtkWidget*, gpointer self) {
    auto* window = static_cast<GtkShellWindow*>(self);
    if (window->saveTimer_ != 0) {
        g_source_remove(window->saveTimer_);
        window->saveTimer_ = 0;
    }
    if (window->context_.mainWindow == window->window_.get()) {
        window->context_.mainWindow = nullptr;
        window->context_.mainWebView = nullptr;
    }
}

}  // namespace corvidale::gtk
