// The real Linux installation of one release, for the crash-safety test to kill at any point:
//   install_driver <installed bundle> <image URL> <sha256> [<delta URL> <sha256>]
// prints "installed" or the failure's diagnostic; a delta is from build 1, and giving it up is told on stderr.
#include <dlfcn.h>

#include <cstdio>

#include "bundle.h"
#include "core/updater/failure.h"
#include "core/updater/pipeline.h"
#include "file_manager.h"
#include "curl/url_session.h"

int main(int argc, char** argv) {
    using namespace corvidale;
    if (argc != 4 && argc != 6) return 2;
    const gtk::GtkBundle bundle(argv[1]);
    curl::CurlURLSession session;
    gtk::LocalFileManager files;
    // Under the fault-injection shim, what fails is counted from here on.
    if (const auto arm = reinterpret_cast<void (*)()>(::dlsym(RTLD_DEFAULT, "corvidale_fault_arm"))) arm();
    updater::Release release{"2.0", 7, argv[2], argv[3], {}};
    if (argc == 6) release.deltas = {{1, argv[4], argv[5]}};
    updater::InstallTarget target{bundle.bundlePath(), bundle.bundleIdentifier(), session, files,
                                  updater::downloadLimits(std::nullopt), /*runningBuild=*/1};
    target.log = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    try {
        updater::installRelease(release, target);
    } catch (...) {
        return std::printf("%s\n", updater::describe(std::current_exception()).diagnostic.c_str()), 1;
    }
    std::printf("installed\n");
}
