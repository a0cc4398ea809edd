#pragma once

#include "core/platform/process.h"

namespace corvidale::mac {

class StandardProcess final : public platform::Process {
public:
    void writeStdout(std::string_view line) override;
    void writeStderr(std::string_view line) override;
    void systemLog(std::string_view line) override;
    bool startDetached(const std::string& executable, const std::vector<std::string>& arguments) override;

protected:
    [[noreturn]] void endProcess(int status) override;
};

}  // namespace corvidale::mac
