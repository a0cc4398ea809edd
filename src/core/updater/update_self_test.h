#pragma once

#include "interactive_update_reporter.h"

namespace corvidale::updater {

// The unattended run of the update path: shown like a run with the user,
// except that the automatic check's end and any installation's outcome end
// the process with one line and its status.
class UpdateSelfTest final : public InteractiveUpdateReporter {
public:
    using InteractiveUpdateReporter::InteractiveUpdateReporter;

    void automaticCheckFoundNothing() override;
    void installationSucceeded(const InstalledApp& installed, bool automatic,
                               std::function<void()> relaunch) override;
    void installationFailed(std::exception_ptr error, bool automatic) override;
};

}  // namespace corvidale::updater
