// A download's name as a server or page suggests it, and the search for a free
// one in a folder that already holds the same name. The first byte picks the
// engine's temporary suffix; the rest is the name.
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include "core/downloads/destination.h"
#include "core/util/text.h"
#include "fuzz.h"

using namespace corvidale;

namespace {

const std::string& folder() {
    static const std::string path = scratchFolder();
    return path;
}

void checkName(const std::string& name, std::string_view suggested, std::size_t maxBytes) {
    FUZZ_CHECK(!name.empty() && name != "." && name != "..");
    FUZZ_CHECK(name.size() <= maxBytes || name == "download");
    for (const unsigned char c : name) FUZZ_CHECK(c >= 0x20 && c != 0x7f && c != '/' && c != '\\');
    if (isValidUtf8(suggested)) FUZZ_CHECK(isValidUtf8(name));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static constexpr std::string_view kSuffixes[] = {"", ".wkdownload", ".part"};
    const std::string_view suffix = kSuffixes[data[0] % 3];
    const std::string_view suggested = asText(data + 1, size - 1);
    checkName(sanitizeFilename(suggested), suggested, kMaxFilenameBytes);

    // Three downloads of one name: three different files, and the first one's
    // name stays reserved after its file is gone, as a running download's does.
    std::set<std::string> taken, running;
    const auto reserved = [&running](const std::string& path) { return running.contains(path); };
    for (int i = 0; i < 3; ++i) {
        const auto destination = uniqueDestination(folder(), suggested, reserved, suffix);
        // The folder holds only these few names: there is always a free one.
        FUZZ_CHECK(!destination.problem && destination.claimed && destination.path.starts_with(folder() + "/"));
        const auto name = destination.path.substr(folder().size() + 1);
        checkName(name, suggested, kMaxFilenameBytes - suffix.size());
        struct stat info {};
        FUZZ_CHECK(::lstat(destination.path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0);
        FUZZ_CHECK(taken.insert(destination.path).second);
        if (i == 0 && ::unlink(destination.path.c_str()) == 0) running.insert(destination.path);
    }
    for (const auto& path : taken) releaseUnusedClaim(path);
    for (const auto& path : taken) FUZZ_CHECK(::access(path.c_str(), F_OK) != 0);
    return 0;
}
