// What every fuzz target shares.
#pragma once

#include <pthread.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

// A broken property is a finding like a crash: abort, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                       \
    do {                                                                                            \
        if (!(condition)) {                                                                         \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                           \
        }                                                                                           \
    } while (0)

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Takes the first line off `rest`; without a line feed, all of it.
inline std::string_view takeLine(std::string_view& rest) {
    const auto end = rest.find('\n');
    const auto line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    return line;
}

// Runs `job` on a thread with the stack of a macOS worker thread, 512 KiB:
// the feed and a downloaded bundle's Info.plist are read on one.
inline void onWorkerStack(const std::function<void()>& job) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 512 * 1024);
    pthread_t thread;
    const auto run = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    FUZZ_CHECK(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&job)) == 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

// A new folder under $TMPDIR, which run.sh points at a folder it removes
// afterwards: libFuzzer leaves without running exit handlers.
inline std::string scratchFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/fuzz-XXXXXX";
    FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
    return pattern;
}
