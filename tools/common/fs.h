// Small file-system helpers shared by the release tools. Everything works
// relative to directory descriptors and never follows a symbolic link, because
// the trees these tools walk come from downloads and must be treated as hostile.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvidale::tools {

// A failure the tool reports as its one-line message and non-zero status.
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd();

    int get() const { return fd_; }
    int release();
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Bytes outside a small set of plain characters become %XX, so that any name
// (newlines, '=', invalid UTF-8 ...) prints on one line and two different
// names never print alike. '/' is kept: it never occurs inside a name.
std::string encodeName(std::string_view raw);

// The path without trailing slashes, so that opening it does not follow a
// symbolic link in its last component.
std::string withoutTrailingSlashes(std::string path);

// Opens a directory without following a symbolic link in its last component.
// `at` may be AT_FDCWD.
Fd openDirectory(int at, const std::string& path);

// The names in a directory, without "." and "..", sorted bytewise.
std::vector<std::string> listDirectory(int dirFd);

struct stat statEntry(int dirFd, const std::string& name);

// Reads a regular file of at most `limit` bytes. Other kinds of file are
// refused, and so is a symbolic link unless `followLink`.
std::string readSmallFile(int dirFd, const std::string& name, std::size_t limit, bool followLink = false);

// Writes a new file (it must not exist yet) with the given mode.
void writeNewFile(int dirFd, const std::string& name, std::string_view data, mode_t mode);

// Removes `name` in `dirFd` and everything below it, never following a
// symbolic link, and making directories writable first so that read-only
// directories inside the tree do not stop the removal. Works on trees of any
// depth with one descriptor open at a time.
void removeTree(int dirFd, const std::string& name);

// Removes the contents of a directory but not the directory itself.
void removeContents(int dirFd);

// Lower-case hexadecimal.
std::string toHex(const unsigned char* bytes, std::size_t length);

// The SHA-256 of an open file, read in chunks.
std::string sha256OfFile(int fd);

}  // namespace corvidale::tools
