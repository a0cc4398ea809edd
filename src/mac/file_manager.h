#pragma once

#include "core/platform/file_manager.h"

namespace corvidale::mac {

// NSFileManager's default manager, which is safe to share between threads.
class DefaultFileManager final : public platform::FileManager {
public:
    std::string temporaryDirectory() override;
    std::optional<platform::Error> replaceItem(const std::string& originalItem, const std::string& newItem) override;
    std::optional<std::string> bundleIdentifierAt(const std::string& bundlePath) override;
    std::optional<platform::PlistValue> infoValueAt(const std::string& bundlePath, std::string_view key) override;
};

}  // namespace corvidale::mac
