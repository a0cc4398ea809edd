#include <unistd.h>
#include <zstd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "common/fs.h"
#include "delta.h"

namespace corvidale::tools::delta {
namespace {

// The delta's bytes, read ahead in pieces.
class Input {
public:
    explicit Input(int fd) : fd_(fd) {}

    // Exactly `size` bytes, or the delta is cut short.
    void read(void* into, std::size_t size) {
        auto* out = static_cast<char*>(into);
        while (size > 0) {
            if (start_ == end_ && !refill()) throw ToolError("the delta is cut short");
            const std::size_t piece = std::min(size, end_ - start_);
            std::memcpy(out, buffer_.data() + start_, piece);
            start_ += piece, out += piece, size -= piece;
        }
    }
    // Up to `size` bytes that are there now; empty at the end.
    std::string_view some(std::size_t size) {
        if (start_ == end_ && !refill()) return {};
        const std::size_t piece = std::min(size, end_ - start_);
        const std::string_view bytes(buffer_.data() + start_, piece);
        start_ += piece;
        return bytes;
    }
    bool atEnd() { return start_ == end_ && !refill(); }

    std::uint64_t number(int bytes) {
        unsigned char raw[8] = {};
        read(raw, static_cast<std::size_t>(bytes));
        std::uint64_t value = 0;
        for (int i = bytes - 1; i >= 0; --i) value = value << 8 | raw[i];
        return value;
    }
    std::string text(std::size_t limit) {
        const std::uint64_t size = number(2);
        if (size > limit) throw ToolError("the delta names a path too long");
        std::string value(size, '\0');
        read(value.data(), size);
        return value;
    }

private:
    bool refill() {
        ssize_t got;
        do got = ::read(fd_, buffer_.data(), buffer_.size());
        while (got < 0 && errno == EINTR);
        if (got < 0) throw ToolError(std::string("cannot read the delta: ") + std::strerror(errno));
        start_ = 0, end_ = static_cast<std::size_t>(got);
        return got > 0;
    }
    int fd_;
    std::array<char, 1 << 16> buffer_{};
    std::size_t start_ = 0, end_ = 0;
};

struct DContext {
    DContext() : context(ZSTD_createDCtx()) {
        if (!context) throw std::bad_alloc();
    }
    ~DContext() { ZSTD_freeDCtx(context); }
    DContext(const DContext&) = delete;
    DContext& operator=(const DContext&) = delete;
    ZSTD_DCtx* context;
};

// One frame of `length` bytes, which must give exactly `size` bytes: a
// frame that says more, or holds more, stops at once.
void decompress(Input& input, ZSTD_DCtx* context, std::uint64_t length, std::uint64_t size, FileOutput& output,
                const std::string& shown) {
    std::array<char, 1 << 17> out{};
    std::uint64_t written = 0;
    std::size_t pending = 1;  // 0 once the frame is whole and all of it given out
    while (length > 0) {
        const std::string_view bytes = input.some(static_cast<std::size_t>(std::min<std::uint64_t>(length, 1 << 16)));
        if (bytes.empty()) throw ToolError("the delta is cut short");
        length -= bytes.size();
        ZSTD_inBuffer in{bytes.data(), bytes.size(), 0};
        while (true) {
            if (pending == 0) {
                if (in.pos < in.size) throw ToolError("the delta holds more than the file " + shown);
                break;
            }
            ZSTD_outBuffer into{out.data(), out.size(), 0};
            pending = ZSTD_decompressStream(context, &into, &in);
            if (ZSTD_isError(pending)) {
                throw ToolError("the delta's data for " + shown + " is damaged (" + ZSTD_getErrorName(pending) + ")");
            }
            written += into.pos;
            if (written > size) throw ToolError("the file " + shown + " is larger than the delta says");
            output.write({out.data(), into.pos});
            // With room left over, zstd has given out all it can without more input.
            if (in.pos == in.size && into.pos < into.size) break;
        }
    }
    if (pending != 0) throw ToolError("the delta's data for " + shown + " is cut short");
    if (written != size) throw ToolError("the file " + shown + " is smaller than the delta says");
    output.finish();
}

void readFile(Input& input, Sink& sink, Kind kind, const std::string& path, std::uint64_t& budget,
              ZSTD_DCtx* context) {
    const mode_t mode = static_cast<mode_t>(input.number(4));
    const std::uint64_t size = input.number(8), length = input.number(8);
    const std::string shown = encodeName(path);
    if ((mode & ~mode_t{0777}) != 0) throw ToolError("the delta gives " + shown + " a mode a bundle has no use for");
    if (size > budget) throw ToolError("the delta makes more than an app may hold");
    budget -= size;
    ZSTD_DCtx_reset(context, ZSTD_reset_session_and_parameters);
    ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, kind == Kind::Patch ? kMaxWindowLog : kMaxFileWindowLog);
    if (kind == Kind::Patch) {
        if (size > kMaxPatchBytes) throw ToolError("the delta patches " + shown + " into a file too large for a patch");
        const std::string_view old = sink.oldFile(path);
        if (old.size() > kMaxPatchBytes) throw ToolError("the delta patches " + shown + ", which is too large for a patch");
        // zstd takes a prefix of no bytes as no prefix at all.
        if (ZSTD_isError(ZSTD_DCtx_refPrefix(context, old.data(), old.size()))) throw std::bad_alloc();
    }
    const auto output = sink.makeFile(path, mode);
    decompress(input, context, length, size, *output, shown);
}

}  // namespace

bool isDeltaPath(std::string_view path) {
    if (path.empty() || path.size() > kMaxPathBytes || path.find('\0') != std::string_view::npos) return false;
    while (true) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (part.empty() || part == "." || part == ".." || part.size() > 255) return false;
        if (slash == std::string_view::npos) return true;
        path.remove_prefix(slash + 1);
    }
}

void readDelta(int fd, Sink& sink, const Limits& limits) {
    Input input(fd);
    std::string magic(kMagic.size(), '\0');
    input.read(magic.data(), magic.size());
    if (magic != kMagic) throw ToolError("not a delta");
    DContext zstd;
    std::uint64_t budget = limits.maxOutputBytes;
    for (std::uint64_t records = 0;; ++records) {
        if (records > limits.maxRecords) throw ToolError("the delta holds too many entries");
        char kindByte = 0;
        input.read(&kindByte, 1);
        const auto kind = static_cast<Kind>(kindByte);
        const std::string path = input.text(kMaxPathBytes);
        if (kind == Kind::End && path.empty()) {
            if (!input.atEnd()) throw ToolError("the delta goes on after its end");
            return;
        }
        if (!isDeltaPath(path)) throw ToolError("the delta names a path outside the app: " + encodeName(path));
        switch (kind) {
        case Kind::Folder: {
            const mode_t mode = static_cast<mode_t>(input.number(4));
            if ((mode & ~mode_t{0777}) != 0) throw ToolError("the delta gives " + encodeName(path) + " a mode a bundle has no use for");
            sink.makeFolder(path, mode);
            break;
        }
        case Kind::File:
        case Kind::Patch: readFile(input, sink, kind, path, budget, zstd.context); break;
        case Kind::Link: {
            const std::string target = input.text(kMaxPathBytes);
            if (target.empty() || target.find('\0') != std::string::npos) throw ToolError("the delta holds a link to nothing");
            sink.makeLink(path, target);
            break;
        }
        case Kind::Removal: sink.remove(path); break;
        default: throw ToolError("the delta holds an entry of an unknown kind");
        }
    }
}

}  // namespace corvidale::tools::delta
