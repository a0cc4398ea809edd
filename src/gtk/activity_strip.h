#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "core/platform/activity.h"

namespace corvidale::gtk {

// The rows of long work under the web view: a label, a bar and a Cancel
// button each. A row is updated in place while its id stays, so that a
// button the keyboard is on keeps the focus as the figures move.
class ActivityStrip {
public:
    ActivityStrip();
    ~ActivityStrip();
    ActivityStrip(const ActivityStrip&) = delete;
    ActivityStrip& operator=(const ActivityStrip&) = delete;

    GtkWidget* widget() const { return box_; }
    void show(const std::vector<platform::ActivityRow>& rows);
    void setCancelHandler(std::function<void(std::uint64_t)> cancel) { cancel_ = std::move(cancel); }
    // Moves the keyboard to the first Cancel button; false when none shows.
    bool focusFirst();

private:
    struct Row {
        GtkWidget* box = nullptr;
        GtkWidget* label = nullptr;
        GtkWidget* bar = nullptr;
        GtkWidget* cancel = nullptr;
        std::uint64_t id = 0;
        ActivityStrip* strip = nullptr;
    };
    Row& rowFor(std::uint64_t id);
    static void update(Row& row, const platform::ActivityRow& content);
    static void onCancel(GtkButton*, gpointer row);

    GtkWidget* box_;  // a reference of our own: the window may drop it first
    std::map<std::uint64_t, Row> rows_;
    std::function<void(std::uint64_t)> cancel_;
};

}  // namespace corvidale::gtk
