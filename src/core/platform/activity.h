#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvidale::platform {

// One piece of long work the window shows while it runs.
struct ActivityRow {
    std::uint64_t id = 0;  // the same for as long as the work lasts
    std::string text;      // what is happening, and how far
    // How much is done, 0 to 1; nullopt when nobody can tell how much is left.
    std::optional<double> fraction;
    // The accessible name of the row's Cancel button; empty while the work
    // can no longer be stopped (the button goes).
    std::string cancelName;

    bool operator==(const ActivityRow&) const = default;
};

// The progress the desktop's launcher (the Dock) draws on the application's
// icon, for work that runs whether or not the window is looked at.
class LauncherProgress {
public:
    virtual ~LauncherProgress() = default;
    // nullopt takes the progress away.
    virtual void setProgress(std::optional<double> fraction) = 0;
};

}  // namespace corvidale::platform
