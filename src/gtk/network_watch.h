#pragma once

#include <gio/gio.h>

#include <functional>

#include "core/platform/network.h"

namespace corvidale::gtk {

// GIO's network monitor: NetworkManager's view where it runs, the kernel's
// routes otherwise. Its signal comes on the main loop.
class GioNetworkWatch final : public platform::NetworkWatch {
public:
    explicit GioNetworkWatch(std::function<void(bool available)> changed);
    ~GioNetworkWatch() override;
    GioNetworkWatch(const GioNetworkWatch&) = delete;
    GioNetworkWatch& operator=(const GioNetworkWatch&) = delete;

private:
    static void onChanged(GNetworkMonitor*, gboolean available, gpointer self);

    std::function<void(bool)> changed_;
    GNetworkMonitor* monitor_;
    gulong handler_ = 0;
};

}  // namespace corvidale::gtk
