#pragma once

#include "core/platform/file_manager.h"

namespace corvidale::gtk {

class LocalFileManager final : public platform::FileManager {
public:
    std::string temporaryDirectory() override;
    std::optional<platform::Error> replaceItem(const std::string& originalItem, const std::string& newItem) override;
    std::optional<std::string> bundleIdentifierAt(const std::string& bundlePath) override;
    std::optional<platform::PlistValue> infoValueAt(const std::string& bundlePath, std::string_view key) override;
};

}  // namespace corvidale::gtk
