#pragma once

#import <Network/Network.h>

#include <functional>
#include <memory>

#include "core/platform/network.h"

namespace corvidale::mac {

// The Network framework's path monitor, reporting on the main queue. It
// reports the current path once as it starts, then every change.
class PathNetworkWatch final : public platform::NetworkWatch {
public:
    explicit PathNetworkWatch(std::function<void(bool available)> changed);
    ~PathNetworkWatch() override;
    PathNetworkWatch(const PathNetworkWatch&) = delete;
    PathNetworkWatch& operator=(const PathNetworkWatch&) = delete;

private:
    // Shared with the monitor's block, and emptied when the watch goes: a
    // change already on the queue then finds nothing to call.
    std::shared_ptr<std::function<void(bool)>> changed_;
    nw_path_monitor_t monitor_ = nil;
};

}  // namespace corvidale::mac
