#include "app.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "tls.h"
#include "world.h"
#include "x11.h"

namespace corvidale::e2e {
namespace {

constexpr const char* kRecorderDesktopFile = "corvidale-test-browser.desktop";

// What the stand-in browser is registered for: the web and mail links the
// shell may hand out, and what it must never hand out (file contents, folders
// other than a revealed download, smb:, a custom scheme), so that an opening
// of those is seen instead of silently failing for want of a handler.
const std::vector<std::string> kRecordedTypes = {
    "x-scheme-handler/http", "x-scheme-handler/https", "x-scheme-handler/mailto", "x-scheme-handler/smb",
    "x-scheme-handler/corvidale-test", "inode/directory", "text/plain", "application/octet-stream",
};

}  // namespace

std::string currentTestArtifactFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "outside-a-test";
    std::replace(name.begin(), name.end(), '/', '_');
    return World::get().artifactsDir() + "/" + name;
}

namespace {

plist_t readPlist(const std::string& path) {
    const std::string xml = readFile(path);
    plist_t root = nullptr;
    if (!xml.empty()) plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    if (!root || plist_get_node_type(root) != PLIST_DICT) {
        if (root) plist_free(root);
        throw std::runtime_error("not a property list dictionary: " + path);
    }
    return root;
}

void writePlist(const std::string& path, plist_t root) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    const std::string text(xml, length);
    std::free(xml);
    writeFile(path, text);
}

template <typename Change>
void editPlist(const std::string& path, Change change) {
    plist_t root = readPlist(path);
    change(root);
    writePlist(path, root);
    plist_free(root);
}

}  // namespace

// ----------------------------------------------------------------------------
// Profile

Profile::Profile() : dir_("profile") {
    for (const auto& folder : {home(), configHome(), dataHome() + "/applications", cacheHome(), stateHome(),
                               downloads(), logs()}) {
        makeDirectories(folder);
    }
    makeDirectories(runtimeDir(), 0700);
    writeFile(configHome() + "/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n");

    openedLog_ = dir_ / "opened.log";
    writeFile(openedLog_, "");
    const std::string recorder = dir_ / "test-browser.sh";
    writeFile(recorder,
              "#!/bin/sh\n"
              "# Stands in for the default browser: notes what it was asked to open, one line each.\n"
              "printf '%s\\n' \"$1\" >> " +
                  shellQuote(openedLog_) + "\n",
              0755);

    std::string types;
    std::string defaults = "[Default Applications]\n";
    for (const auto& type : kRecordedTypes) {
        types += type + ";";
        defaults += type + "=" + kRecorderDesktopFile + "\n";
    }
    writeFile(dataHome() + "/applications/" + kRecorderDesktopFile,
              "[Desktop Entry]\nType=Application\nName=Corvidale Test Browser\nNoDisplay=true\nExec=" + recorder +
                  " %u\nMimeType=" + types + "\n");
    writeFile(configHome() + "/mimeapps.list", defaults);
}

std::vector<std::string> Profile::opened() const { return splitLines(readFile(openedLog_)); }

bool Profile::waitForOpened(const std::string& url, Millis timeout) const {
    return waitUntil(
        [&] {
            const auto lines = opened();
            return std::find(lines.begin(), lines.end(), url) != lines.end();
        },
        timeout);
}

std::vector<std::string> Profile::downloadedFiles() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(downloads(), error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Profile::nextRunStem() { return logs() + "/run-" + std::to_string(++runs_); }

// ----------------------------------------------------------------------------
// App

App::App(Profile& profile, const LaunchOptions& options) {
    World& world = World::get();
    const std::string stem = profile.nextRunStem();
    stdoutPath_ = stem + ".stdout";
    stderrPath_ = stem + ".stderr";

    Environment environment;
    const Environment inherited = currentEnvironment();
    environment["PATH"] = inherited.count("PATH") ? inherited.at("PATH") : "/usr/local/bin:/usr/bin:/bin";
    environment["HOME"] = profile.home();
    environment["USER"] = inherited.count("USER") ? inherited.at("USER") : "root";
    environment["LANG"] = "C.UTF-8";
    environment["XDG_CONFIG_HOME"] = profile.configHome();
    environment["XDG_DATA_HOME"] = profile.dataHome();
    environment["XDG_CACHE_HOME"] = profile.cacheHome();
    environment["XDG_STATE_HOME"] = profile.stateHome();
    environment["XDG_RUNTIME_DIR"] = profile.runtimeDir();
    environment["XDG_DATA_DIRS"] = "/usr/local/share:/usr/share";
    environment["XDG_CONFIG_DIRS"] = "/etc/xdg";
    // Sanitizer settings of an instrumented build still apply to the app.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (inherited.count(name)) environment[name] = inherited.at(name);
    }
    // No DBUS_SESSION_BUS_ADDRESS: without a session bus nothing can start a
    // desktop portal behind the engine's back.
    if (options.withDisplay) {
        display_ = world.display();
        environment["DISPLAY"] = display_;
    }
    if (options.origin) environment["CORVIDALE_ORIGIN"] = *options.origin;
    if (options.stamp) environment["CORVIDALE_STAMP"] = *options.stamp;
    for (const auto& [name, value] : options.extraEnvironment) environment[name] = value;

    SpawnOptions spawn;
    spawn.argv = {options.executable.value_or(world.appExecutable())};
    spawn.argv.insert(spawn.argv.end(), options.arguments.begin(), options.arguments.end());
    spawn.environment = environment;
    spawn.stdoutPath = stdoutPath_;
    spawn.stderrPath = stderrPath_;
    if (options.workingDirectory) spawn.workingDirectory = *options.workingDirectory;
    if (options.withTestNetwork) {
        const auto& tls = world.tls();
        spawn.bindMounts = {{tls.caBundle, kSystemCaBundle}, {tls.hostsFile, kSystemHosts}};
    }
    child_ = std::make_unique<Child>(spawn);
}

App::~App() {
    if (::testing::Test::HasFailure()) {
        // Keep what the run showed and said for whoever reads the CI result.
        const std::string folder = currentTestArtifactFolder();
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
        const std::string stem = folder + "/app-" + std::to_string(child_->pid());
        std::filesystem::copy_file(stdoutPath_, stem + ".stdout", std::filesystem::copy_options::overwrite_existing,
                                   ignored);
        std::filesystem::copy_file(stderrPath_, stem + ".stderr", std::filesystem::copy_options::overwrite_existing,
                                   ignored);
    }
    child_->terminate();
}

size_t App::countErrLines(const std::string& line) const {
    const auto lines = errLines();
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

bool App::waitForErrLine(const std::string& line, Millis timeout, size_t count) const {
    return waitUntil([&] { return countErrLines(line) >= count; }, timeout);
}

std::string App::window(Millis timeout) {
    if (!window_.empty()) return window_;
    if (display_.empty()) throw std::logic_error("App::window: this run has no display");
    auto found = x11::findWindow(display_, pid(), "^Corvidale$", timeout);
    if (!found) throw std::runtime_error("the Corvidale window did not appear\n" + describe());
    window_ = *found;
    return window_;
}

std::string App::describe() const {
    std::ostringstream text;
    text << "app pid " << child_->pid() << "\n--- app stdout ---\n" << out() << "--- app stderr ---\n" << err();
    return text.str();
}

// ----------------------------------------------------------------------------
// BundleCopy

BundleCopy::BundleCopy() : dir_("bundle") {
    std::filesystem::copy(World::get().bundleDir(), bundle(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
}

std::string BundleCopy::executable() const {
    return bundle() + "/Contents/MacOS/" + std::filesystem::path(World::get().appExecutable()).filename().string();
}

void BundleCopy::setString(const std::string& key, const std::string& value) {
    editPlist(infoPlist(), [&](plist_t root) { plist_dict_set_item(root, key.c_str(), plist_new_string(value.c_str())); });
}

void BundleCopy::setInteger(const std::string& key, long long value) {
    editPlist(infoPlist(), [&](plist_t root) {
        plist_dict_set_item(root, key.c_str(), plist_new_uint(static_cast<uint64_t>(value)));
    });
}

void BundleCopy::remove(const std::string& key) {
    editPlist(infoPlist(), [&](plist_t root) { plist_dict_remove_item(root, key.c_str()); });
}

std::string bundleInfoString(const std::string& infoPlist, const std::string& key) {
    plist_t root = readPlist(infoPlist);
    std::string value;
    if (plist_t node = plist_dict_get_item(root, key.c_str()); node && plist_get_node_type(node) == PLIST_STRING) {
        char* text = nullptr;
        plist_get_string_val(node, &text);
        if (text) value = text;
        std::free(text);
    }
    plist_free(root);
    return value;
}

}  // namespace corvidale::e2e
