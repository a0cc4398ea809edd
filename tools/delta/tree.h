// A delta applied to a folder on disk.
#pragma once

#include <map>
#include <string>

#include "core/util/posix.h"
#include "delta.h"

namespace corvidale::tools::delta {

// Copies the tree `name` in `fromFd` to `name` in `toFd`: folders and links
// made anew, files hard-linked where both are on one file system and copied
// where not. Nothing that applies a delta ever writes into a file it did not
// make, so a linked file of the installed app is only ever read.
void copyTree(int fromFd, int toFd, const std::string& name);

// Applies records to the tree open at `rootFd`, never following a link in
// it: a link the delta makes cannot carry a later record out of the tree.
// Files are written under a new name and renamed over the old one. A folder
// this user may not write (a bundle may hold read-only ones) is opened up
// while the delta changes it, and gets its mode back in finish().
class TreeSink : public Sink {
public:
    explicit TreeSink(int rootFd) : rootFd_(rootFd) {}
    ~TreeSink() override;
    TreeSink(const TreeSink&) = delete;
    TreeSink& operator=(const TreeSink&) = delete;

    void remove(const std::string& path) override;
    void makeFolder(const std::string& path, mode_t mode) override;
    void makeLink(const std::string& path, const std::string& target) override;
    std::unique_ptr<FileOutput> makeFile(const std::string& path, mode_t mode) override;
    std::string_view oldFile(const std::string& path) override;
    // After the last record: every folder opened up takes its mode again.
    void finish();

private:
    void unmapOld();
    Fd writableParent(const std::string& path, std::string& leaf);
    int rootFd_;
    std::map<std::string, mode_t> modes_;  // by path with a trailing '/', the root's ""

    void* mapped_ = nullptr;
    std::size_t mappedSize_ = 0;
};

}  // namespace corvidale::tools::delta
