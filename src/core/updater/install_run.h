#pragma once

#include <string>
#include <string_view>

#include "core/util/posix.h"
#include "tool_table.h"

namespace corvidale::updater {

// Where the installed app is: its path, the folder it is in and its name.
struct Location {
    std::string installed, folder, appName;
};

// One installation of an app at a time, told by a lock file of this user's
// own beside the app (mode 0600): nobody who cannot write that folder, and so
// replace the app anyway, can hold it. The file also tells the next run what a
// killed one left: its folder and its running tool's process group. It is
// removed when the run ends; a run that finds it removed under its lock takes
// the lock again on the new file.
class InstallLock {
public:
    explicit InstallLock(const Location& location);
    InstallLock(const InstallLock&) = delete;
    InstallLock& operator=(const InstallLock&) = delete;
    ~InstallLock();

    // Replaces what the file says; a record that cannot be written only makes
    // the next run's clean-up less thorough.
    void record(const std::string& text) const;
    std::string recorded() const;

private:
    void take(const Location& location);

    std::string path_;
    Fd fd_;
};

// Removes what interrupted runs left: the folders of runs that are over, with
// their downloads and attached images, and staging copies beside the app (the
// new app half copied, or the old one swapped out and not yet removed). A run
// folder still locked belongs to a live run, of this app's or another copy's,
// and stays; unless this app's own record names it: that run is dead (its lock
// is ours now), and its tools are stopped first, before they can write into
// anything that is being removed.
void removeLeftovers(const Location& location, const std::string& temporary, const ToolTable& tools,
                     const ToolPaths& paths, const InstallLock& lock);

// The run's own folder in the temporary folder, only this user's: it holds
// the download and the mount directory, and goes when the run ends, whatever
// is in it. Its lock is shared with the tools the run starts, and the lock
// file records it and their process group for the next run.
class RunFolder {
public:
    RunFolder(const std::string& temporary, const InstallLock& lock);
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;
    ~RunFolder();

    const std::string& path() const { return path_; }
    const ToolOptions& toolOptions() const { return options_; }

private:
    std::string path_;
    Fd fd_;
    ToolOptions options_;
};

// A fresh path for the copy beside the installed app, which the next run
// takes for a leftover if this one leaves it.
std::string stagingPath(const Location& location);

// A fresh random UUID in its standard text form: 36 characters, upper-case
// hexadecimal digits in groups of 8-4-4-4-12.
std::string makeUUID();

}  // namespace corvidale::updater
