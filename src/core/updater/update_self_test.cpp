#include "update_self_test.h"

#include <string>

#include "failure.h"
#include "version.h"

namespace corvidale::updater {

void UpdateSelfTest::automaticCheckFoundNothing() {
    process_.writeStdout("UPDATE SELFTEST: nothing newer than " + std::to_string(currentBuild(bundle_)));
    process_.exit(1);
}

void UpdateSelfTest::installationSucceeded(const InstalledApp& installed, bool, std::function<void()>) {
    endProgress();
    process_.writeStdout("UPDATE SELFTEST: installed " + installed.version + " (" + std::to_string(installed.build) +
                         ") at " + bundle_.bundlePath());
    process_.exit(0);
}

void UpdateSelfTest::installationFailed(std::exception_ptr error, bool) {
    endProgress();
    process_.writeStdout("UPDATE SELFTEST: failed — " + describe(error).localizedDescription);
    process_.exit(1);
}

}  // namespace corvidale::updater
