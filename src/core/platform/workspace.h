#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvidale::platform {

class Workspace {
public:
    virtual ~Workspace() = default;
    // Opens `url` in the application registered for its scheme; answers
    // whether the system accepted it.
    virtual bool openURL(const std::string& url) = 0;
    // Shows the files in the file manager, selected.
    virtual void revealFiles(const std::vector<std::string>& paths) = 0;
    // The user's Downloads folder, or nullopt when the system names none.
    virtual std::optional<std::string> downloadsDirectory() = 0;
};

}  // namespace corvidale::platform
