#include "network_watch.h"

#include <utility>

namespace corvidale::mac {

PathNetworkWatch::PathNetworkWatch(std::function<void(bool available)> changed)
    : changed_(std::make_shared<std::function<void(bool)>>(std::move(changed))), monitor_(nw_path_monitor_create()) {
    auto handler = changed_;
    nw_path_monitor_set_queue(monitor_, dispatch_get_main_queue());
    nw_path_monitor_set_update_handler(monitor_, ^(nw_path_t path) {
      if (*handler) (*handler)(nw_path_get_status(path) == nw_path_status_satisfied);
    });
    nw_path_monitor_start(monitor_);
}

PathNetworkWatch::~PathNetworkWatch() {
    *changed_ = nullptr;
    nw_path_monitor_cancel(monitor_);
}

}  // namespace corvidale::mac
