#pragma once

#include "core/platform/file_manager.h"

namespace corvidale::mac {

// NSFileManager's default manager, which is safe to share between threads.
class DefaultFileManager final : public platform::FileManager {
public:
    std::string temporaryDirectory() override;
    std::string cachesDirectory() override;
    std::optional<platform::Error> replaceItem(const std::string& originalItem, const std::string& newItem) override;
    std::variant<std::unique_ptr<platform::Bundle>, platform::Error> bundleAt(const std::string& bundlePath) override;
};

}  // namespace corvidale::mac
