#pragma once

#include <memory>
#include <string>

#include "tls.h"
#include "util.h"
#include "xvfb.h"

namespace corvidale::e2e {

// What one test process shares between its tests: the X server and the TLS
// material, made on first use (a test that needs no display starts no X
// server), and the paths the build handed in.
class World {
public:
    static World& get();
    // Ends the X server and removes the scratch folder; main() calls it last.
    static void shutdown();

    const std::string& display();
    // The display if one was started, else empty; starts nothing.
    std::string displayIfStarted() const { return xvfb_ ? xvfb_->display() : std::string(); }
    const TlsMaterial& tls();

    // The app's executable: $CORVIDALE_E2E_APP when set, else the one this build made.
    std::string appExecutable() const;
    // Its bundle: the folder two levels above the executable.
    std::string bundleDir() const;
    std::string artifactsDir() const;
    const std::string& scratch() const { return scratch_.path(); }

private:
    World();

    TempDir scratch_;
    std::unique_ptr<Xvfb> xvfb_;
    std::unique_ptr<TlsMaterial> tls_;
};

}  // namespace corvidale::e2e
