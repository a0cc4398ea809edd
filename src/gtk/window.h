#pragma once

#include <gtk/gtk.h>

#include <string>

#include "core/platform/defaults.h"
#include "activity_strip.h"
#include "core/platform/window.h"
#include "glib_ptr.h"
#include "shell_context.h"

namespace corvidale::gtk {

// The shell's GtkApplicationWindow. Its saved size lives in the user
// defaults under "NSWindow Frame <autosave name>" as "<width> <height>".
class GtkShellWindow final : public platform::Window {
public:
    GtkShellWindow(ShellContext& context, platform::Defaults& defaults, const platform::WindowShape& shape);
    ~GtkShellWindow() override;
    GtkShellWindow(const GtkShellWindow&) = delete;
    GtkShellWindow& operator=(const GtkShellWindow&) = delete;

    void setTitle(const std::string& title) override;
    void setMovableByWindowBackground(bool movable) override;
    void setMinSize(platform::Size size) override;
    void setContentView(platform::WebView& view) override;
    void setFrameAutosaveName(const std::string& name) override;
    void center() override;
    void makeKeyAndOrderFront() override;
    void showActivity(const std::vector<platform::ActivityRow>& rows) override { strip_.show(rows); }
    void setActivityCancelHandler(std::function<void(std::uint64_t)> cancel) override {
        strip_.setCancelHandler(std::move(cancel));
    }

    GtkWindow* widget() const { return window_.get(); }

private:
    static void onSizeChanged(GObject*, GParamSpec*, gpointer self);
    static gboolean onCloseRequest(GtkWindow*, gpointer self);
    static void onDestroy(GtkWidget*, gpointer self);
    static gboolean saveSoon(gpointer self);
    static gboolean onSwitchPane(GtkWidget*, GVariant*, gpointer self);
    void saveFrame();

    ShellContext& context_;
    platform::Defaults& defaults_;
    GLibPtr<GtkWindow> window_;  // destroyed in the destructor, released after it
    ActivityStrip strip_;
    std::string autosaveKey_;
    std::string savedFrame_;
    guint saveTimer_ = 0;
};

// "<width> <height>" with both whole numbers in a sane range, or nothing.
bool parseSavedFrame(const std::string& text, int& width, int& height);

}  // namespace corvidale::gtk
