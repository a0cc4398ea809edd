#include "core/util/transfer_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace corvidale {
namespace {

std::string temporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
}

}  // namespace

TransferFile::TransferFile(const std::string& folder, std::uint64_t maxBytes) : maxBytes_(maxBytes) {
    const std::string where = folder.empty() ? temporaryFolder() : folder;
    path_ = where + (where.back() == '/' ? "" : "/") + "corvidale-download-XXXXXX";
    fd_ = Fd(::mkostemp(path_.data(), O_CLOEXEC));
    if (!fd_) throw PosixError(errno, "cannot create a file in", where);
}

TransferFile::~TransferFile() {
    if (kept_) return;
    fd_ = Fd();
    ::unlink(path_.c_str());
}

TransferFile::Append TransferFile::append(const void* bytes, std::size_t size) {
    if (maxBytes_ != 0 && size > maxBytes_ - size_) return Append::TooLong;
    error_ = writeAll(fd_.get(), bytes, size);
    if (error_ != 0) return Append::Failed;
    size_ += size;
    return Append::Written;
}

bool TransferFile::keep() {
    if (::close(fd_.release()) != 0) {
        error_ = errno;
        return false;
    }
    kept_ = true;
    return true;
}

}  // namespace corvidale
