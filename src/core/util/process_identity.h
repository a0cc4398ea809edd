#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvidale {

// One process as the system knows it: its id, when it started (in the
// system's own unit) and the program it runs. An id alone may name another
// process by the time it is used; with its start time and program it names
// this one only.
struct ProcessIdentity {
    int pid = 0;
    std::uint64_t startTime = 0;
    std::string executable;
    bool operator==(const ProcessIdentity&) const = default;
};

// The process `pid` as it is now, when it is this user's and still running
// (an exited one, not yet reaped, is not).
std::optional<ProcessIdentity> identifyProcess(int pid);

}  // namespace corvidale
