#pragma once

#include "core/platform/workspace.h"

namespace corvidale::mac {

// The shared NSWorkspace and the default NSFileManager.
class MacWorkspace final : public platform::Workspace {
public:
    bool openURL(const std::string& url) override;
    void revealFiles(const std::vector<std::string>& paths) override;
    std::optional<std::string> downloadsDirectory() override;
};

}  // namespace corvidale::mac
