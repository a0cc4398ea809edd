// Downloads that go wrong: the self-test on pages it cannot work with, and a
// transfer the server breaks off halfway.
#include <atomic>
#include <chrono>
#include <memory>

#include "e2e_test.h"

namespace corvidale::e2e {
namespace {

class DownloadsFailureTest : public E2eTest {};

const std::string kFailedPrefix = "DOWNLOAD SELFTEST: failed — ";

TEST_F(DownloadsFailureTest, SelfTestOnADocumentWithoutABodyReportsTheFailureAndExitsOne) {
    // Two ways a loaded document can lack a body: an HTML page that takes its
    // own away before the load ends, and an SVG image shown as the page. The
    // page reports synchronously: the self-test ends the run as soon as the
    // load is over, which may be before a fetch would have arrived.
    server().page("/bodiless", R"HTML(<!doctype html><html><head><title>No body</title><script>
document.addEventListener('DOMContentLoaded', function () {
  document.documentElement.removeChild(document.body);
  var request = new XMLHttpRequest();
  request.open('POST', '/report', false);
  request.send('body removed ' + (document.body === null));
});
</script></head><body><p>gone before the load ends</p></body></html>)HTML");
    server().handle("/drawing.svg", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(R"SVG(<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="200" height="100"><rect width="200" height="100" fill="#2a6f4e"/></svg>
)SVG",
                             "image/svg+xml");
    });

    for (const std::string path : {"/bodiless", "/drawing.svg"}) {
        SCOPED_TRACE(path);
        LaunchOptions options = originAt(server().appUrl(path));
        options.arguments = {"-downloadSelfTest", "YES"};
        auto app = launch(options);
        const auto status = app->waitForExit(kStartTimeout);
        ASSERT_TRUE(status) << server().describeTraffic() << app->describe();
        EXPECT_TRUE(status->exited && status->code == 1) << status->describe() << "\n" << app->describe();
        // Exactly one line, and it is the failure with the engine's reason.
        const auto lines = app->outLines();
        ASSERT_EQ(lines.size(), 1u) << app->describe();
        ASSERT_EQ(lines.front().rfind(kFailedPrefix, 0), 0u) << app->describe();
        EXPECT_GT(lines.front().size(), kFailedPrefix.size()) << "no reason given\n" << app->describe();
        EXPECT_TRUE(profile().downloadedFiles().empty()) << joinLines(profile().downloadedFiles());
        RecordProperty("line" + path, lines.front());
    }
    // The document really was loaded without its body (not some other failure).
    EXPECT_TRUE(server().sawReport("body removed true")) << server().describeTraffic();
    EXPECT_FALSE(server().requestsTo("/drawing.svg").empty()) << server().describeTraffic();
}

TEST_F(DownloadsFailureTest, SelfTestWhoseClickThePageCancelsGivesUpAfterFifteenSeconds) {
    // The page swallows every click on a link before it can do anything.
    server().page("/cancels", std::string("<!doctype html><html><head><title>Cancels</title>") + kReportScript +
                                  R"HTML(<script>
document.addEventListener('click', function (event) {
  var link = event.target.closest ? event.target.closest('a') : null;
  if (!link) return;
  event.preventDefault();
  report('cancelled a click on ' + (link.download || link.href));
}, true);
window.addEventListener('load', function () { report('loaded at ' + Date.now()); });
</script></head><body><p>links do nothing here</p></body></html>)HTML");

    LaunchOptions options = originAt(server().appUrl("/cancels"));
    options.arguments = {"-downloadSelfTest", "YES"};
    auto app = launch(options);
    // The page's own clock (the machine's) says when it loaded: the report
    // may take a while to arrive.
    const auto loaded = server().waitForReport("loaded at ", kStartTimeout);
    ASSERT_TRUE(loaded) << server().describeTraffic() << app->describe();
    const auto loadedAt = std::chrono::system_clock::time_point(Millis(std::stoll(loaded->substr(10))));

    const auto status = app->waitForExit(40s);
    const auto waited = std::chrono::duration_cast<Millis>(std::chrono::system_clock::now() - loadedAt);
    ASSERT_TRUE(status) << "still running 40 s after the page loaded\n" << app->describe();
    EXPECT_TRUE(status->exited && status->code == 1) << status->describe() << "\n" << app->describe();
    EXPECT_EQ(app->outLines(), std::vector<std::string>{"DOWNLOAD SELFTEST: nothing arrived in 15 s"})
        << app->describe();
    EXPECT_GE(waited, 14s) << "gave up after " << waited.count() << " ms";
    EXPECT_LE(waited, 25s) << "gave up after " << waited.count() << " ms";
    // The self-test did click, and the page's cancel is why nothing came.
    EXPECT_TRUE(server().sawReport("cancelled a click on corvidale-download-selftest.txt"))
        << server().describeTraffic();
    EXPECT_TRUE(profile().downloadedFiles().empty()) << joinLines(profile().downloadedFiles());
    RecordProperty("gave_up_after_ms", std::to_string(waited.count()));
}

TEST_F(DownloadsFailureTest, ABrokenOffDownloadIsReportedLeavesNothingAndTheAppCarriesOn) {
    const std::string downloads = profile().downloads();
    const std::string name = "ledger.csv";
    const std::string contents = "account,balance\ncash,10\n";
    // The server outlives this test's locals.
    auto broken = std::make_shared<std::atomic<bool>>(true);
    server().handle("/ledger", [=](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
        if (!*broken) {
            response.set_content(contents, "text/csv");
            return;
        }
        // Promises 64 KiB and hangs up after the first one. The engine wants
        // the start of a body before it decides what a response is; the
        // hang-up waits until the shell has claimed the file, so that it is
        // a download that fails and not a page load. The engine keeps what
        // arrived in a file of its own, so the claimed one is still empty.
        const std::string claimed = downloads + "/" + name;
        response.set_content_provider(64 * 1024, "text/csv",
                                      [claimed](size_t offset, size_t, httplib::DataSink& sink) {
                                          if (offset == 0) {
                                              const std::string start(1024, 'x');
                                              sink.write(start.data(), start.size());
                                              return true;
                                          }
                                          waitUntil([&] { return fileExists(claimed); }, 20s);
                                          return false;
                                      });
    });
    server().page("/steps",
                  stepsPage({Step::link(server().appUrl("/ledger")), Step::link(server().appUrl("/ledger"))}));

    x11::WindowWatcher watcher(display());
    auto app = launchAt("/steps");
    app->window(kStartTimeout);

    clickStep(*app, server(), 0);
    const std::string title = "The download didn't finish";
    const auto dialog = x11::findWindow(app->display(), app->pid(), "^" + title + "$", kEventTimeout);
    ASSERT_TRUE(dialog) << "no alert about the failed download\nwindows shown:\n"
                        << joinLines(watcher.mappedNames()) << server().describeTraffic() << app->describe();
    // Drawn, not just mapped: a dark panel with text rather than a black hole.
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto image = x11::capture(app->display(), *dialog);
            return image && image->meanBrightness(0, 0, image->width, image->height) > 20;
        },
        kEventTimeout));
    x11::screenshot(app->display(), artifactPath("failed-download-alert.png"));
    // The placeholder that claimed the name is gone by the time the user is told.
    EXPECT_TRUE(profile().downloadedFiles().empty()) << joinLines(profile().downloadedFiles());

    ASSERT_TRUE(x11::key(app->display(), *dialog, "Return"));
    EXPECT_TRUE(waitUntil([&] { return x11::visibleWindows(app->display(), app->pid(), "^" + title + "$").empty(); },
                          kEventTimeout));
    EXPECT_TRUE(app->running()) << app->describe();
    EXPECT_FALSE(server().sawReport("pagehide")) << server().describeTraffic();

    // The same file again, whole this time. It gets the name the failed one
    // had: nothing, on disk or in the shell's books, still holds it.
    *broken = false;
    clickStep(*app, server(), 1);
    const std::string path = downloads + "/" + name;
    EXPECT_TRUE(waitUntil([&] { return fileExists(path) && readFile(path) == contents; }, kEventTimeout))
        << "in Downloads:\n" << joinLines(profile().downloadedFiles()) << app->describe();
    EXPECT_TRUE(waitUntil([&] { return profile().downloadedFiles() == std::vector<std::string>{name}; }, kEventTimeout))
        << "in Downloads:\n" << joinLines(profile().downloadedFiles());
    EXPECT_EQ(watcher.mappedCount(title), 1u) << "windows shown:\n" << joinLines(watcher.mappedNames());
    closeWithKeyboardAndExpectCleanExit(*app);
}

}  // namespace
}  // namespace corvidale::e2e
