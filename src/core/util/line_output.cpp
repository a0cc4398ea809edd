#include "line_output.h"

#include <string>

#include "core/util/posix.h"

namespace corvidale {

void writeLine(std::FILE* stream, int fd, std::string_view line) {
    std::string text(line);
    text += '\n';
    std::fflush(stream);
    // Nowhere is left to report a line that could not be written.
    (void)writeAll(fd, text.data(), text.size());
}

}  // namespace corvidale
