#include "plist_bounds.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace corvidale {
namespace {

// Every start tag of a container anywhere in the text counts, in comments
// and CDATA sections too: whatever a parser skips, it can never nest more
// containers than the text names.
bool xmlWithinBounds(std::string_view text) {
    std::size_t containers = 0;
    for (std::size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
        for (const std::string_view name : {"dict", "array"}) {
            const std::size_t end = at + 1 + name.size();
            if (text.substr(at + 1, name.size()) != name) continue;
            // The name ends where a parser's tag name ends.
            if (end < text.size() && std::string_view(" \t\r\n/<>").find(text[end]) == std::string_view::npos) continue;
            if (++containers > kMaxPlistContainers) return false;
        }
    }
    return true;
}

std::uint64_t bigEndian(std::string_view bytes, std::size_t at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// The object table of a binary property list, as its trailer describes it.
class BinaryPlist {
public:
    struct Container {
        std::size_t refs = 0;  // where the references start
        std::uint64_t count = 0;
    };

    static std::optional<BinaryPlist> open(std::string_view bytes) {
        constexpr std::size_t kHeader = 8, kTrailer = 32;
        if (bytes.size() < kHeader + kTrailer || bytes.substr(0, kHeader) != "bplist00") return std::nullopt;
        const std::size_t trailer = bytes.size() - kTrailer;
        BinaryPlist plist(bytes);
        plist.offsetSize_ = static_cast<unsigned char>(bytes[trailer + 6]);
        plist.refSize_ = static_cast<unsigned char>(bytes[trailer + 7]);
        plist.objects_ = bigEndian(bytes, trailer + 8, 8);
        plist.top_ = bigEndian(bytes, trailer + 16, 8);
        plist.table_ = bigEndian(bytes, trailer + 24, 8);
        const bool sane = plist.offsetSize_ >= 1 && plist.offsetSize_ <= 8 && plist.refSize_ >= 1 &&
                          plist.refSize_ <= 8 && plist.objects_ >= 1 && plist.objects_ <= bytes.size() &&
                          plist.top_ < plist.objects_ && plist.table_ >= kHeader && plist.table_ <= trailer &&
                          plist.objects_ * plist.offsetSize_ <= trailer - plist.table_;
        if (!sane) return std::nullopt;
        return plist;
    }

    std::uint64_t objects() const { return objects_; }
    std::uint64_t top() const { return top_; }

    // nullopt: not a container. A container whose references run past the
    // objects makes the whole list unreadable: `broken`.
    std::optional<Container> container(std::uint64_t object, bool& broken) const {
        const auto refuse = [&broken] {
            broken = true;
            return std::nullopt;
        };
        const std::uint64_t offset = bigEndian(bytes_, table_ + object * offsetSize_, offsetSize_);
        if (offset < 8 || offset >= table_) return refuse();
        const auto marker = static_cast<unsigned char>(bytes_[offset]);
        const unsigned type = marker >> 4;
        // Arrays, ordered sets, sets and dictionaries.
        if (type < 0xA || type > 0xD) return std::nullopt;
        Container found{offset + 1, marker & 0xFu};
        if (found.count == 0xF) {
            const auto size = found.refs < table_ ? static_cast<unsigned char>(bytes_[found.refs]) : 0;
            const std::size_t width = std::size_t{1} << (size & 0xF);
            if ((size & 0xF0) != 0x10 || width > 8 || found.refs + 1 + width > table_) return refuse();
            found.count = bigEndian(bytes_, found.refs + 1, width);
            found.refs += 1 + width;
        }
        if (type == 0xD) found.count = found.count > UINT64_MAX / 2 ? UINT64_MAX : found.count * 2;  // keys, values
        if (found.count > (table_ - found.refs) / refSize_) return refuse();
        return found;
    }

    std::uint64_t reference(const Container& container, std::uint64_t index) const {
        return bigEndian(bytes_, container.refs + index * refSize_, refSize_);
    }

private:
    explicit BinaryPlist(std::string_view bytes) : bytes_(bytes) {}

    std::string_view bytes_;
    std::size_t offsetSize_ = 0, refSize_ = 0;
    std::uint64_t objects_ = 0, top_ = 0, table_ = 0;
};

// What the tree under one object comes to once every reference is followed.
struct Expanded {
    std::uint64_t containers = 0, nodes = 0;

    bool add(const Expanded& other) {
        containers += other.containers;
        nodes += other.nodes;
        return containers <= kMaxPlistContainers && nodes <= kMaxPlistNodes;
    }
};

// Depth first with a stack of its own, each object expanded once and its
// sums kept; an object met again on its own path is a cycle.
bool binaryWithinBounds(const BinaryPlist& plist) {
    enum class State : unsigned char { New, OnPath, Done };
    struct Frame {
        std::uint64_t object;
        BinaryPlist::Container container;
        std::uint64_t next = 0;
        Expanded sum{1, 1};
    };
    std::vector<State> states(plist.objects(), State::New);
    std::vector<Expanded> sums(plist.objects());
    std::vector<Frame> path;
    path.reserve(kMaxPlistContainers + 1);  // `frame` below stays valid
    bool broken = false;
    const auto enter = [&](std::uint64_t object) {
        const auto container = plist.container(object, broken);
        if (!container) {
            states[object] = State::Done;
            sums[object] = {0, 1};
            return;
        }
        states[object] = State::OnPath;
        path.push_back({object, *container});
    };
    enter(plist.top());
    if (path.empty()) return !broken;
    for (;;) {
        Frame& frame = path.back();
        if (frame.next == frame.container.count) {
            states[frame.object] = State::Done;
            sums[frame.object] = frame.sum;
            const Expanded done = frame.sum;
            path.pop_back();
            if (path.empty()) return true;
            if (!path.back().sum.add(done)) return false;
            continue;
        }
        const std::uint64_t child = plist.reference(frame.container, frame.next++);
        if (child >= plist.objects() || states[child] == State::OnPath) return false;
        if (states[child] == State::New) enter(child);
        if (broken || path.size() > kMaxPlistContainers) return false;
        if (states[child] == State::Done && !frame.sum.add(sums[child])) return false;
    }
}

}  // namespace

bool plistWithinBounds(std::string_view bytes) {
    if (bytes.size() > kMaxPlistBytes || !xmlWithinBounds(bytes)) return false;
    if (!bytes.starts_with("bplist")) return true;
    const auto plist = BinaryPlist::open(bytes);
    return plist && binaryWithinBounds(*plist);
}

}  // namespace corvidale
