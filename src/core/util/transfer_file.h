#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/util/posix.h"

namespace corvidale {

// A download's body, written into a fresh file of its own as it arrives. The
// file is made in the caller's folder before the first byte, so that whoever
// owns that folder owns whatever a killed process leaves of it; nothing goes
// through a place of the system's first. The file goes with this object
// unless it was kept.
class TransferFile {
public:
    // Makes "corvidale-download-XXXXXX", the user's alone (0600), in `folder`,
    // or in the temporary folder ($TMPDIR, else /tmp) when that is empty.
    // Throws PosixError. `maxBytes` 0: any length.
    TransferFile(const std::string& folder, std::uint64_t maxBytes);
    ~TransferFile();
    TransferFile(const TransferFile&) = delete;
    TransferFile& operator=(const TransferFile&) = delete;

    enum class Append { Written, TooLong, Failed };
    // TooLong: the bytes would make the file longer than allowed, and none
    // of them is written. Failed: the system refused the write (error()).
    Append append(const void* bytes, std::size_t size);
    // Closes the file, which is the caller's from then on; false (and
    // error() set) when closing failed, and the file then goes as usual.
    bool keep();

    const std::string& path() const { return path_; }
    std::uint64_t size() const { return size_; }
    // The errno of the write or close that failed; 0 while none did.
    int error() const { return error_; }

private:
    std::string path_;
    Fd fd_;
    std::uint64_t maxBytes_;
    std::uint64_t size_ = 0;
    int error_ = 0;
    bool kept_ = false;
};

}  // namespace corvidale
