// Darwin's own posix_spawn flags, which glibc lacks or numbers otherwise
// (<sys/spawn.h> in the macOS SDK), for the type-check only.
#pragma once

#include_next <spawn.h>

#undef POSIX_SPAWN_SETSID
#define POSIX_SPAWN_SETSID 0x0400
#define POSIX_SPAWN_CLOEXEC_DEFAULT 0x4000

// With POSIX_SPAWN_CLOEXEC_DEFAULT, a descriptor the child keeps as it is.
extern "C" int posix_spawn_file_actions_addinherit_np(posix_spawn_file_actions_t*, int);
