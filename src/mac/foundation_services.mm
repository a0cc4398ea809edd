#include "foundation_services.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/util/line_output.h"
#include "core/util/spawn.h"
#include "ns_text.h"

// Darwin's <unistd.h> does not declare it; the executable has it.
extern "C" char** environ;

namespace corvidale::mac {

platform::PlistValue plistValueOf(id value) {
    using Kind = platform::PlistValue::Kind;
    platform::PlistValue result;
    if ([value isKindOfClass:[NSString class]]) {
        result.kind = Kind::String;
        result.text = toStdString(value);
        return result;
    }
    if ([value isKindOfClass:[NSNumber class]]) {
        // Property-list Booleans are numbers whose type is char.
        result.kind = std::strcmp([value objCType], "c") == 0 ? Kind::Boolean : Kind::Number;
    } else if ([value isKindOfClass:[NSDate class]]) {
        result.kind = Kind::Date;
    } else if ([value isKindOfClass:[NSData class]]) {
        result.kind = Kind::Data;
    } else if ([value isKindOfClass:[NSArray class]]) {
        result.kind = Kind::Array;
    } else {
        result.kind = Kind::Dictionary;
    }
    result.text = toStdString([value description]);
    return result;
}

namespace {

// How long the main run loop runs at a time while runUntil() waits, so that
// the condition is looked at often and the deadline is kept closely.
constexpr NSTimeInterval kRunLoopSlice = 0.05;

int64_t nanoseconds(double seconds) {
    if (!(seconds > 0)) return 0;  // also NaN
    const double ns = seconds * static_cast<double>(NSEC_PER_SEC);
    return ns >= 9.2e18 ? INT64_MAX : static_cast<int64_t>(ns);
}

class RunLoopTimer final : public platform::Timer {
public:
    RunLoopTimer(double intervalSeconds, std::function<void()> job) {
        // The block keeps its own copy of the job: the job may destroy this
        // wrapper while it runs.
        timer_ = [NSTimer timerWithTimeInterval:std::max(intervalSeconds, 0.0)
                                        repeats:YES
                                          block:^(NSTimer*) {
                                            job();
                                          }];
        // In the common modes, as the main queue's jobs run: also while an
        // app-modal panel is up or a menu is open.
        [[NSRunLoop mainRunLoop] addTimer:timer_ forMode:NSRunLoopCommonModes];
    }
    ~RunLoopTimer() override { invalidate(); }
    RunLoopTimer(const RunLoopTimer&) = delete;
    RunLoopTimer& operator=(const RunLoopTimer&) = delete;

    void invalidate() override { [timer_ invalidate]; }

private:
    NSTimer* timer_ = nil;
};

}  // namespace

std::optional<platform::PlistValue> MainBundle::infoValue(std::string_view key) const {
    id value = [[NSBundle mainBundle] objectForInfoDictionaryKey:toNSString(key)];
    if (value == nil) return std::nullopt;
    return plistValueOf(value);
}

std::optional<std::string> MainBundle::bundleIdentifier() const {
    return optionalString([[NSBundle mainBundle] bundleIdentifier]);
}

std::string MainBundle::bundlePath() const { return toStdString([[NSBundle mainBundle] bundlePath]); }

std::optional<std::string> ProcessEnvironment::get(std::string_view name) const {
    return optionalString([[[NSProcessInfo processInfo] environment] objectForKey:toNSString(name)]);
}

std::optional<std::string> StandardDefaults::string(std::string_view key) const {
    return optionalString([[NSUserDefaults standardUserDefaults] stringForKey:toNSString(key)]);
}

bool StandardDefaults::boolean(std::string_view key) const {
    return [[NSUserDefaults standardUserDefaults] boolForKey:toNSString(key)];
}

void StandardDefaults::setString(std::string_view key, std::string_view value) {
    [[NSUserDefaults standardUserDefaults] setObject:toNSString(value) forKey:toNSString(key)];
}

void StandardDefaults::setBoolean(std::string_view key, bool value) {
    [[NSUserDefaults standardUserDefaults] setBool:value forKey:toNSString(key)];
}

void StandardProcess::writeStdout(std::string_view line) { writeLine(stdout, STDOUT_FILENO, line); }

void StandardProcess::writeStderr(std::string_view line) { writeLine(stderr, STDERR_FILENO, line); }

void StandardProcess::systemLog(std::string_view line) { NSLog(@"%@", toNSString(line)); }

bool StandardProcess::startDetached(const std::string& executable, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    // posix_spawn rather than NSTask, which has no public way to start a
    // session: this child must outlive the application, whatever terminal
    // or process group it was started from. It gets /dev/null for standard
    // input, output and error, no other descriptor of ours, and default
    // signal handling.
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        posix_spawn_file_actions_addopen(&files, fd, "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_setflags(&attributes, corvidale::initSpawnAttributes(attributes) | POSIX_SPAWN_SETSID |
                                              POSIX_SPAWN_CLOEXEC_DEFAULT);

    // Not waited for: it is started just before this process ends.
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, executable.c_str(), &files, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    return error == 0;
}

void StandardProcess::endProcess(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(status);
}

void MainDispatchQueue::post(std::function<void()> job) {
    dispatch_async(dispatch_get_main_queue(), ^{
      job();
    });
}

void MainDispatchQueue::after(double seconds, std::function<void()> job) {
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, nanoseconds(seconds)), dispatch_get_main_queue(), ^{
      job();
    });
}

std::unique_ptr<platform::Timer> MainDispatchQueue::repeating(double intervalSeconds, std::function<void()> job) {
    return std::make_unique<RunLoopTimer>(intervalSeconds, std::move(job));
}

bool MainDispatchQueue::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
    if (!(timeoutSeconds > 0)) return done();
    // The main run loop keeps running, in short slices, so that answers the
    // platform delivers to the main thread (a script's result) can arrive.
    NSDate* deadline = [NSDate dateWithTimeIntervalSinceNow:timeoutSeconds];
    NSRunLoop* runLoop = [NSRunLoop mainRunLoop];
    bool finished = done();
    while (!finished) {
        const NSTimeInterval left = [deadline timeIntervalSinceNow];
        if (left <= 0) break;
        const NSTimeInterval slice = std::min(left, kRunLoopSlice);
        // A run loop with nothing to wait on returns at once; nothing can
        // arrive then either, so the slice is slept instead of spun.
        if (![runLoop runMode:NSDefaultRunLoopMode beforeDate:[NSDate dateWithTimeIntervalSinceNow:slice]]) {
            [NSThread sleepForTimeInterval:slice];
        }
        finished = done();
    }
    return finished;
}

}  // namespace corvidale::mac
