#pragma once

#include "core/platform/workspace.h"

namespace corvidale::gtk {

class DesktopWorkspace final : public platform::Workspace {
public:
    bool openURL(const std::string& url) override;
    void revealFiles(const std::vector<std::string>& paths) override;
    std::optional<std::string> downloadsDirectory() override;
};

}  // namespace corvidale::gtk
