// Makes a delta from one bundle to the next.
#pragma once

#include <cstdint>

namespace corvidale::tools::delta {

struct WriteSummary {
    std::uint64_t files = 0, patches = 0, removals = 0, bytes = 0;
};

// Writes to `outFd` the delta that turns the bundle open at `oldFd` into the
// one open at `newFd`: a changed file goes as a patch against its old self
// where that is smaller than the file alone.
WriteSummary writeDelta(int oldFd, int newFd, int outFd);

}  // namespace corvidale::tools::delta
