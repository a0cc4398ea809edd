#include "tool_runner.h"

#include "core/platform/error.h"
#include "core/util/child_process.h"
#include "core/util/text.h"

namespace corvidale::updater {
ToolResult runTool(const std::string& path, const std::vector<std::string>& arguments, const ToolOptions& options) {
    ChildOptions child;
    child.seconds = options.seconds;
    child.maxOutputBytes = options.maxOutputBytes;
    child.sharedFd = options.sharedFd;
    child.started = options.started;
    child.stop = options.stop;
    const ChildResult run = runChild(path, arguments, child);
    if (run.startError != 0) return {-1, platform::posixError(run.startError, path).fullDescription, run.startError};
    return {run.status, decodeUtf8(run.output), 0};
}

}  // namespace corvidale::updater
