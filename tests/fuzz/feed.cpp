// A release server's feed document: whatever it holds ends in a release or a feed failure.
#include "core/updater/failure.h"
#include "core/updater/feed.h"
#include "core/util/url.h"
#include "fuzz.h"

using namespace corvidale;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::URLResponse response;
    // Both kinds of feed: one from a server, one from a file: URL (no status).
    const bool http = size % 2 == 0;
    response.isHTTP = http;
    response.statusCode = http ? 200 : 0;
    response.body = std::string(asText(data, size));
    const auto feedURL = http ? "https://updates.example.com/feeds/linux.json" : "file:///srv/feeds/linux.json";
    const updater::RunningApp running{"com.corvidale.desktop", 41};
    onWorkerStack([&] {
        try {
            const auto release = updater::readFeed(response, feedURL, running);
            if (release) {
                FUZZ_CHECK(release->build > running.build);
                FUZZ_CHECK(Url::parse(release->imageURL).has_value());
            }
        } catch (const updater::Failure& failure) {
            FUZZ_CHECK(failure.kind() == updater::Failure::Kind::Feed);
        }
    });
    return 0;
}
