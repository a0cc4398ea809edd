#include "line_output.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace corvidale {

void writeLine(std::FILE* stream, int fd, std::string_view line) {
    std::string text(line);
    text += '\n';
    std::fflush(stream);
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

}  // namespace corvidale
