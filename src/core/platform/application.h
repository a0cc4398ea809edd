#pragma once

#include <optional>

#include "menu.h"

namespace corvidale::platform {

enum class Appearance { Light, Dark };

class Application {
public:
    virtual ~Application() = default;
    virtual void activateIgnoringOtherApps() = 0;
    // The explicit appearance set on the application; nullopt while it follows the system.
    virtual std::optional<Appearance> appearance() const = 0;
    virtual void setAppearance(Appearance appearance) = 0;
    virtual void setMainMenu(const MenuBar& menuBar) = 0;
    // The platform's ordinary termination.
    virtual void terminate() = 0;
};

}  // namespace corvidale::platform
