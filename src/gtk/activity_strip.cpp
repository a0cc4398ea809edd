#include "activity_strip.h"

#include <algorithm>
#include <set>

namespace corvidale::gtk {

ActivityStrip::ActivityStrip() : box_(GTK_WIDGET(g_object_ref_sink(gtk_box_new(GTK_ORIENTATION_VERTICAL, 4)))) {
    gtk_widget_set_visible(box_, FALSE);
    gtk_widget_add_css_class(box_, "toolbar");
    gtk_widget_set_margin_start(box_, 8);
    gtk_widget_set_margin_end(box_, 8);
    gtk_accessible_update_property(GTK_ACCESSIBLE(box_), GTK_ACCESSIBLE_PROPERTY_LABEL, "Activity", -1);
}

ActivityStrip::~ActivityStrip() {
    // A press that comes while the window goes finds no row.
    for (auto& [id, row] : rows_) g_signal_handlers_disconnect_by_data(row.cancel, &row);
    g_object_unref(box_);
}

ActivityStrip::Row& ActivityStrip::rowFor(std::uint64_t id) {
    if (auto found = rows_.find(id); found != rows_.end()) return found->second;
    Row& row = rows_[id];
    row.id = id;
    row.strip = this;
    row.box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    row.label = gtk_label_new(nullptr);
    gtk_label_set_ellipsize(GTK_LABEL(row.label), PANGO_ELLIPSIZE_MIDDLE);
    gtk_label_set_xalign(GTK_LABEL(row.label), 0);
    gtk_widget_set_size_request(row.label, 220, -1);
    row.bar = gtk_progress_bar_new();
    gtk_widget_set_hexpand(row.bar, TRUE);
    gtk_widget_set_valign(row.bar, GTK_ALIGN_CENTER);
    row.cancel = gtk_button_new_with_label("Cancel");
    g_signal_connect(row.cancel, "clicked", G_CALLBACK(&ActivityStrip::onCancel), &row);
    gtk_box_append(GTK_BOX(row.box), row.label);
    gtk_box_append(GTK_BOX(row.box), row.bar);
    gtk_box_append(GTK_BOX(row.box), row.cancel);
    gtk_box_append(GTK_BOX(box_), row.box);
    return row;
}

void ActivityStrip::update(Row& row, const platform::ActivityRow& content) {
    gtk_label_set_text(GTK_LABEL(row.label), content.text.c_str());
    // The bar is read as the work it measures.
    gtk_accessible_update_property(GTK_ACCESSIBLE(row.bar), GTK_ACCESSIBLE_PROPERTY_LABEL, content.text.c_str(), -1);
    if (content.fraction) {
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(row.bar), std::clamp(*content.fraction, 0.0, 1.0));
    } else {
        gtk_progress_bar_pulse(GTK_PROGRESS_BAR(row.bar));
    }
    gtk_widget_set_visible(row.cancel, !content.cancelName.empty());
    if (!content.cancelName.empty()) {
        gtk_accessible_update_property(GTK_ACCESSIBLE(row.cancel), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                       content.cancelName.c_str(), -1);
    }
}

void ActivityStrip::show(const std::vector<platform::ActivityRow>& rows) {
    std::set<std::uint64_t> shown;
    for (const auto& content : rows) {
        shown.insert(content.id);
        update(rowFor(content.id), content);
    }
    for (auto it = rows_.begin(); it != rows_.end();) {
        if (shown.count(it->first) != 0) {
            ++it;
            continue;
        }
        g_signal_handlers_disconnect_by_data(it->second.cancel, &it->second);
        gtk_box_remove(GTK_BOX(box_), it->second.box);
        it = rows_.erase(it);
    }
    gtk_widget_set_visible(box_, !rows_.empty());
}

bool ActivityStrip::focusFirst() {
    if (!gtk_widget_get_visible(box_)) return false;
    for (auto& [id, row] : rows_) {
        if (gtk_widget_get_visible(row.cancel) && gtk_widget_grab_focus(row.cancel)) return true;
    }
    return false;
}

void ActivityStrip::onCancel(GtkButton*, gpointer data) {
    auto* row = static_cast<Row*>(data);
    // The handler may change the rows, this one among them.
    if (auto cancel = row->strip->cancel_) cancel(row->id);
}

}  // namespace corvidale::gtk
