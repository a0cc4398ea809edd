#pragma once

#include <string>

namespace corvidale {

// Removes `name` in `dirFd` (AT_FDCWD: a path) and everything below it. A
// symbolic link is removed, never followed; folders are made writable first,
// so that read-only ones inside do not stop it. Trees of any depth take one
// descriptor at a time. What cannot be removed is passed over, the rest goes,
// and then the first failure is thrown as a PosixError; a tree that changes
// under the walk stops it at once.
void removeTree(int dirFd, const std::string& name);

// The same for what a directory holds, keeping the directory itself.
void removeContents(int dirFd);

// removeTree for clean-up that has nobody to tell: what stays is removed
// next time.
void removeTreeQuietly(const std::string& path) noexcept;

}  // namespace corvidale
