#pragma once

#include <cstdio>
#include <string_view>

namespace corvidale {

// Writes `line` and a line feed to `fd`: first whatever `stream` still
// buffers, then the line as one write(2), so that lines from other threads or
// processes never interleave inside it. Errors are dropped: there is nowhere
// left to report them.
void writeLine(std::FILE* stream, int fd, std::string_view line);

}  // namespace corvidale
