#pragma once

#include <cstddef>
#include <string>
#include <system_error>
#include <vector>

namespace corvidale {

// A system call that failed on one file: its errno, what was being done and
// the path. what() reads "<doing> <path>: <the system's text>"; a caller that
// must not print a path as it is (a name from a download) builds its own
// line from the parts.
class PosixError : public std::system_error {
public:
    PosixError(int code, std::string doing, std::string path);
    int errorNumber() const { return code().value(); }
    const std::string& doing() const { return doing_; }
    const std::string& path() const { return path_; }

private:
    std::string doing_;
    std::string path_;
};

// An open file descriptor, closed when it goes.
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

// A directory, opened in `at` (AT_FDCWD for the working folder). A symbolic
// link in the last component is not followed unless `followLink`.
Fd openDirectory(int at, const std::string& path, bool followLink = false);

// The names in a directory, without "." and "..", sorted bytewise so that
// "the first" is the same on every file system. `name` only tells errors.
std::vector<std::string> listDirectory(int dirFd, const std::string& name = ".");
std::vector<std::string> listDirectory(const std::string& path);

// Writes all `size` bytes to `fd`, going on after an interruption or a
// short write. Answers 0 or the errno of the failure (EIO when the system
// wrote nothing and said nothing).
int writeAll(int fd, const void* data, std::size_t size);

// The bytes of the regular file `name` in `dirFd`, of at most `limit` bytes:
// a link is not followed unless `followLink`, and a device or a pipe is
// neither read nor waited for. A folder fails with EISDIR, anything else but
// a regular file with EINVAL, a larger one with EFBIG.
std::string readSmallFile(int dirFd, const std::string& name, std::size_t limit, bool followLink = false);

}  // namespace corvidale
