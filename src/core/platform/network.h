#pragma once

namespace corvidale::platform {

// Watching the system's network connection (see Platform::watchNetwork);
// ends when the object goes.
class NetworkWatch {
public:
    virtual ~NetworkWatch() = default;
};

}  // namespace corvidale::platform
