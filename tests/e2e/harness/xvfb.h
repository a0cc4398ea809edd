#pragma once

#include <memory>
#include <string>

#include "process.h"

namespace corvidale::e2e {

// A virtual X server on a display number that nobody else uses, 1280x1024x24,
// without TCP. Ready to accept connections when the constructor returns.
class Xvfb {
public:
    explicit Xvfb(const std::string& logPath);
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    // ":N"
    const std::string& display() const { return display_; }

private:
    std::unique_ptr<Child> server_;
    std::string display_;
};

}  // namespace corvidale::e2e
