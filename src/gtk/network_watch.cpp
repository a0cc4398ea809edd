#include "network_watch.h"

#include <utility>

namespace corvidale::gtk {

GioNetworkWatch::GioNetworkWatch(std::function<void(bool available)> changed)
    : changed_(std::move(changed)), monitor_(G_NETWORK_MONITOR(g_object_ref(g_network_monitor_get_default()))) {
    handler_ = g_signal_connect(monitor_, "network-changed", G_CALLBACK(&GioNetworkWatch::onChanged), this);
}

GioNetworkWatch::~GioNetworkWatch() {
    g_signal_handler_disconnect(monitor_, handler_);
    g_object_unref(monitor_);
}

void GioNetworkWatch::onChanged(GNetworkMonitor*, gboolean available, gpointer self) {
    static_cast<GioNetworkWatch*>(self)->changed_(available != FALSE);
}

}  // namespace corvidale::gtk
