// The text of a page's alert, confirm or prompt, cut to a character limit
// taken from the first byte: mostly small, so that the cut is reached.
#include <string>

#include "core/util/text.h"
#include "core/web/page_dialogs.h"
#include "fuzz.h"

using namespace corvidale;

namespace {

bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t limit = data[0] == 0xFF ? kPageDialogTextLimit : data[0] % 64;
    const std::string_view text = asText(data + 1, size - 1);
    const std::string shown = pageDialogText(text, limit);
    std::size_t characters = 0;
    for (const char c : text) characters += isContinuation(c) ? 0 : 1;
    if (characters <= limit) {
        FUZZ_CHECK(shown == text);
        return 0;
    }
    // A prefix of exactly `limit` characters, cut before a character, and the ellipsis.
    FUZZ_CHECK(shown.ends_with("…"));
    const std::string_view kept = std::string_view(shown).substr(0, shown.size() - std::string_view("…").size());
    FUZZ_CHECK(text.starts_with(kept) && !isContinuation(text[kept.size()]));
    std::size_t keptCharacters = 0;
    for (const char c : kept) keptCharacters += isContinuation(c) ? 0 : 1;
    FUZZ_CHECK(keptCharacters == limit);
    if (isValidUtf8(text)) FUZZ_CHECK(isValidUtf8(shown));
    return 0;
}
