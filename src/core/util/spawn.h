#pragma once

#include <spawn.h>

namespace corvidale {

// Initialises `attributes` for a child that starts with nothing blocked and
// every signal it can handle back at its default, whatever this process
// blocks or ignores. Returns the spawn flags that make that so; callers add
// their own before posix_spawnattr_setflags.
short initSpawnAttributes(posix_spawnattr_t& attributes);

}  // namespace corvidale
