#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/util/posix.h"
#include "core/util/process_identity.h"
#include "tool_table.h"

namespace corvidale::updater {

// Where the installed app is: its path, the folder it is in and its name.
struct Location {
    std::string installed, folder, appName;
};

// This user's own folder for what one run leaves for the next, whatever
// temporary folder either uses: the install locks and the records of the
// runs. It is <caches>/corvidale-updates, made with mode 0700; one that is a
// link, is another user's or may be written by others is refused.
class StateFolder {
public:
    explicit StateFolder(const std::string& caches);
    const std::string& path() const { return path_; }
    int fd() const { return fd_.get(); }

private:
    std::string path_;
    Fd fd_;
};

// One installation of an app at a time, told by a lock file in this user's
// state folder named after the app's real path: nobody else can create it
// first or plant a link there. It is never written, so whatever stands at
// its name is never changed; one that has another link or another owner is
// refused. It is removed when the run ends; a run that finds it removed under
// its lock takes the lock again on the new file.
class InstallLock {
public:
    InstallLock(const Location& location, const StateFolder& state);
    InstallLock(const InstallLock&) = delete;
    InstallLock& operator=(const InstallLock&) = delete;
    ~InstallLock();

    // The lock file's name in the state folder.
    static std::string nameFor(const Location& location);

private:
    void take(const Location& location);

    const StateFolder& state_;
    std::string name_;
    Fd fd_;
};

// What a run leaves for the runs after it, in a file of its own in the state
// folder, written before its folder is made and removed once that has gone:
// the folder, the run's own process and the tool it is running.
struct RunRecord {
    std::string folder;
    ProcessIdentity run;
    std::optional<ProcessIdentity> tool;
};
std::string formatRecord(const RunRecord& record);
// Nothing for text that is not a whole record.
std::optional<RunRecord> parseRecord(std::string_view text);

// Removes what interrupted runs left: the folders that the records of runs
// that are over name, with their downloads and attached images, those of no
// record in the temporary folder, and staging copies beside the app (the new
// app half copied, or the old one swapped out and not yet removed). A folder
// still locked belongs to a live run, or to the tools of a dead one: those
// are stopped first, before they can write into anything that is being
// removed, but only when they are, by id, start time and program, the very
// tool its record names; nothing else is ever stopped.
void removeLeftovers(const Location& location, const std::string& temporary, const ToolTable& tools,
                     const ToolPaths& paths, const StateFolder& state);

// The run's own folder in the temporary folder, only this user's: it holds
// the download and the mount directory, and goes when the run ends, whatever
// is in it. Its lock is shared with the tools the run starts, and its record
// names each of them as it starts.
class RunFolder {
public:
    RunFolder(const std::string& temporary, const StateFolder& state);
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;
    ~RunFolder();

    const std::string& path() const { return path_; }
    const ToolOptions& toolOptions() const { return options_; }

private:
    void record(const std::optional<ProcessIdentity>& tool) const;

    const StateFolder& state_;
    std::string recordName_;
    std::string path_;
    ProcessIdentity self_;
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
