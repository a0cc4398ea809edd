// File inputs open the shell's own chooser; what is chosen there is what the
// page gets, and a dismissed chooser changes nothing.
#include <chrono>

#include "e2e_test.h"

namespace corvidale::e2e {
namespace {

class FileChooserTest : public E2eTest {};

// The upper half of the view is the label of a file input that takes several
// files, the lower half that of one that takes a single file. Every change
// and every cancel is reported with the names the input then holds.
std::string filesPage() {
    return std::string("<!doctype html><html><head><meta charset=\"utf-8\"><title>Files</title>") + kReportScript +
           R"HTML(<style>
html, body { margin: 0; height: 100%; }
label { position: fixed; left: 0; width: 100%; height: 50%; display: flex; align-items: center;
        justify-content: center; font: 32px sans-serif; color: #fff; }
#manyLabel { top: 0; background: #2a6f4e; }
#oneLabel { top: 50%; background: #6f2a4e; }
input { position: absolute; opacity: 0; width: 1px; height: 1px; }
</style></head><body>
<label id="manyLabel" for="many">several files</label>
<label id="oneLabel" for="one">one file</label>
<input type="file" id="many" multiple>
<input type="file" id="one">
<script>
function state(input) {
  var names = Array.prototype.map.call(input.files, function (file) { return file.name + ':' + file.size; });
  return input.files.length + ' [' + names.join(',') + ']';
}
['many', 'one'].forEach(function (id) {
  var input = document.getElementById(id);
  input.addEventListener('click', function () { report(id + ' clicked'); });
  input.addEventListener('change', function () { report(id + ' changed ' + state(input)); });
  input.addEventListener('cancel', function () { report(id + ' cancelled ' + state(input)); });
});
window.addEventListener('load', function () { report('loaded'); });
</script></body></html>)HTML";
}

// How many pixels of the window carry the selection highlight, a strong blue
// in GTK's default theme, light or dark. A selected row of the chooser's
// list is about 12,000 of them; a focus ring makes a few thousand.
long highlighted(const x11::Image& image) {
    long count = 0;
    for (size_t at = 0; at + 2 < image.rgb.size(); at += 3) {
        const int r = image.rgb[at], g = image.rgb[at + 1], b = image.rgb[at + 2];
        if (b > r + 60 && b > g + 30) ++count;
    }
    return count;
}
constexpr long kOneRow = 8000;
constexpr long kTwoRows = 20000;

// Presses `keys` until at least `atLeast` pixels are highlighted. The keys
// select rows, which changes nothing when pressed again; pressed before the
// chooser has listed its folder they select nothing, so they are pressed
// again rather than once and hoped for. Answers how often they were
// pressed, 0 when the highlight never came.
int pressUntilHighlighted(const std::string& display, const std::string& window, const std::string& keys,
                          long atLeast) {
    const auto deadline = std::chrono::steady_clock::now() + kEventTimeout;
    int presses = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        ++presses;
        if (!x11::key(display, window, keys)) return 0;
        const bool lit = waitUntil(
            [&] {
                const auto image = x11::capture(display, window);
                return image && highlighted(*image) >= atLeast;
            },
            1s);
        if (lit) return presses;
    }
    return 0;
}

TEST_F(FileChooserTest, ChosenFilesReachTheInputAndEscapeLeavesItAsItWas) {
    TempDir files("chooser");
    const std::string folder = files / "two";
    makeDirectories(folder);
    writeFile(folder + "/alpha.txt", "alpha\n");
    writeFile(folder + "/beta.csv", "b,e,t,a\n");
    writeFile(files / "single.txt", "only one\n");
    // Without recent files the chooser opens in the working directory, here
    // the folder with the two files, every time; with them it would open on
    // whatever was chosen last.
    makeDirectories(profile().configHome() + "/gtk-4.0");
    writeFile(profile().configHome() + "/gtk-4.0/settings.ini", "[Settings]\ngtk-recent-files-enabled=false\n");

    server().page("/files", filesPage());
    LaunchOptions options;
    options.workingDirectory = folder;
    // The chooser keeps its settings in GSettings; with no session bus to
    // reach dconf, it would complain about every change.
    options.extraEnvironment["GSETTINGS_BACKEND"] = "memory";
    auto app = launchAt("/files", options);
    const auto window = app->window(kStartTimeout);
    ASSERT_TRUE(server().waitForExactReport("loaded", kStartTimeout)) << server().describeTraffic() << app->describe();

    // Opens the chooser of the upper or lower input with a real click, and
    // gives its list of files the keyboard with a click below the files.
    const auto openChooser = [&](bool several) -> std::string {
        const std::string id = several ? "many" : "one";
        EXPECT_TRUE(x11::click(app->display(), window, 550, several ? 200 : 600));
        const auto chooser = x11::findWindow(app->display(), app->pid(), "^Open$", kEventTimeout);
        if (!chooser) {
            ADD_FAILURE() << "no chooser for " << id << "\n" << server().describeTraffic() << app->describe();
            return {};
        }
        const auto frame = x11::geometry(app->display(), *chooser);
        EXPECT_TRUE(frame && x11::click(app->display(), *chooser, frame->width * 6 / 10, frame->height * 6 / 10));
        return *chooser;
    };
    const auto chooserGone = [&] {
        return waitUntil([&] { return x11::visibleWindows(app->display(), app->pid(), "^Open$").empty(); },
                         kEventTimeout);
    };

    {
        SCOPED_TRACE("several files: Escape");
        const auto chooser = openChooser(true);
        ASSERT_FALSE(chooser.empty());
        ASSERT_TRUE(x11::key(app->display(), chooser, "Escape"));
        EXPECT_TRUE(chooserGone());
        EXPECT_TRUE(server().waitForExactReport("many cancelled 0 []", kEventTimeout)) << server().describeTraffic();
    }
    {
        // Ctrl+A selects both files, and Alt+O is the Open button (Return
        // would open just the file under the cursor).
        SCOPED_TRACE("several files: both in the folder");
        const auto chooser = openChooser(true);
        ASSERT_FALSE(chooser.empty());
        const int presses = pressUntilHighlighted(app->display(), chooser, "ctrl+a", kTwoRows);
        ASSERT_GT(presses, 0) << "Ctrl+A did not select both files";
        RecordProperty("select_all_presses", presses);
        x11::screenshot(app->display(), artifactPath("both-selected.png"));
        ASSERT_TRUE(x11::key(app->display(), chooser, "alt+o"));
        EXPECT_TRUE(chooserGone());
        ASSERT_TRUE(server().waitForExactReport("many changed 2 [alpha.txt:6,beta.csv:8]", kEventTimeout))
            << server().describeTraffic();
    }
    {
        // Once the folder is listed (a row is selected), Ctrl+L gives a
        // location entry that takes a path from anywhere.
        SCOPED_TRACE("one file: typed path");
        const auto chooser = openChooser(false);
        ASSERT_FALSE(chooser.empty());
        const int presses = pressUntilHighlighted(app->display(), chooser, "Home", kOneRow);
        ASSERT_GT(presses, 0) << "the folder was never listed";
        RecordProperty("home_presses", presses);
        ASSERT_TRUE(x11::key(app->display(), chooser, "ctrl+l"));
        ASSERT_TRUE(x11::type(app->display(), chooser, files / "single.txt"));
        ASSERT_TRUE(x11::key(app->display(), chooser, "Return"));
        EXPECT_TRUE(chooserGone());
        ASSERT_TRUE(server().waitForExactReport("one changed 1 [single.txt:9]", kEventTimeout))
            << server().describeTraffic();
    }
    {
        SCOPED_TRACE("one file: Escape keeps the choice");
        const auto chooser = openChooser(false);
        ASSERT_FALSE(chooser.empty());
        ASSERT_TRUE(x11::key(app->display(), chooser, "Escape"));
        EXPECT_TRUE(chooserGone());
        EXPECT_TRUE(server().waitForExactReport("one cancelled 1 [single.txt:9]", kEventTimeout))
            << server().describeTraffic();
    }
    // Each input changed only when its own chooser said so.
    std::vector<std::string> changes;
    for (const auto& text : server().reports()) {
        if (text.find(" changed ") != std::string::npos || text.find(" cancelled ") != std::string::npos) {
            changes.push_back(text);
        }
    }
    EXPECT_EQ(changes, (std::vector<std::string>{"many cancelled 0 []", "many changed 2 [alpha.txt:6,beta.csv:8]",
                                                 "one changed 1 [single.txt:9]", "one cancelled 1 [single.txt:9]"}))
        << server().describeTraffic();
    closeWithKeyboardAndExpectCleanExit(*app);
}

}  // namespace
}  // namespace corvidale::e2e
