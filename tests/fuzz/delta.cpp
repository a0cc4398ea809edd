// The delta reader, on whatever a server could publish as a delta: records
// kept in memory, an old file being what the delta itself wrote there first.
#include <sys/mman.h>

#include <map>
#include <memory>

#include "delta/delta.h"
#include "common/fs.h"
#include "fuzz.h"

using namespace corvidale::tools;

namespace {

constexpr std::uint64_t kLimit = 1 << 20;

struct MemorySink : delta::Sink {
    std::map<std::string, std::string> files;
    std::uint64_t written = 0;

    struct Output : delta::FileOutput {
        MemorySink& sink;
        std::string path, bytes;
        Output(MemorySink& s, std::string p) : sink(s), path(std::move(p)) {}
        void write(std::string_view piece) override {
            bytes += piece;
            sink.written += piece.size();
            FUZZ_CHECK(sink.written <= kLimit);  // nothing past the caps is ever handed out
        }
        void finish() override { sink.files[path] = std::move(bytes); }
    };
    void remove(const std::string& path) override {
        check(path);
        files.erase(path);
    }
    void makeFolder(const std::string& path, mode_t mode) override {
        check(path);
        FUZZ_CHECK((mode & ~0777u) == 0);
    }
    void makeLink(const std::string& path, const std::string& target) override {
        check(path);
        FUZZ_CHECK(!target.empty());
    }
    std::unique_ptr<delta::FileOutput> makeFile(const std::string& path, mode_t mode) override {
        check(path);
        FUZZ_CHECK((mode & ~0777u) == 0);
        return std::make_unique<Output>(*this, path);
    }
    std::string_view oldFile(const std::string& path) override {
        const auto found = files.find(path);
        if (found == files.end()) throw ToolError("no old file");
        return found->second;
    }
    // Every path stays inside the tree: no empty, "." or ".." component, no NUL.
    static void check(const std::string& path) {
        const std::string framed = "/" + path + "/";
        for (const char* bad : {"//", "/./", "/../"}) FUZZ_CHECK(framed.find(bad) == std::string::npos);
        FUZZ_CHECK(path.find('\0') == std::string::npos);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = ::memfd_create("delta", MFD_CLOEXEC);
    ::ftruncate(fd, 0);
    ::pwrite(fd, data, size, 0);
    ::lseek(fd, 0, SEEK_SET);
    MemorySink sink;
    try {
        delta::readDelta(fd, sink, {kLimit, 1000});
        FUZZ_CHECK(size >= delta::kMagic.size());
    } catch (const ToolError&) {
    }
    return 0;
}
