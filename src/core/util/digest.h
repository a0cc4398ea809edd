#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvidale {

// Hexadecimal digits, two a byte.
std::string toHex(const unsigned char* bytes, std::size_t length, bool upperCase = false);

// The SHA-256 as 64 lower-case hexadecimal digits. A failure of the crypto
// library is thrown as std::runtime_error.
std::string sha256Hex(std::string_view bytes);

// The same of a file, read in pieces: files of any size, never held in
// memory. Throws PosixError when it cannot be read.
std::string sha256HexOfFile(const std::string& path);
// The same of a file open at `fd`, from where it stands; `name` tells errors.
std::string sha256HexOfFile(int fd, const std::string& name);

}  // namespace corvidale
