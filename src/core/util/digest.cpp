#include "core/util/digest.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <vector>

#if defined(__APPLE__)
#include <CommonCrypto/CommonDigest.h>
#else
#include <openssl/evp.h>

#include <memory>
#endif

#include "core/util/posix.h"

namespace corvidale {
namespace {

// One SHA-256 fed in pieces: CommonCrypto on macOS, OpenSSL elsewhere.
class Sha256 {
public:
#if defined(__APPLE__)
    Sha256() { CC_SHA256_Init(&context_); }
    void update(const char* data, std::size_t length) {
        // CommonCrypto counts a piece in 32 bits.
        while (length > 0) {
            const auto piece = static_cast<CC_LONG>(std::min<std::size_t>(length, 1U << 30));
            CC_SHA256_Update(&context_, data, piece);
            data += piece;
            length -= piece;
        }
    }
    std::string finish() {
        unsigned char value[CC_SHA256_DIGEST_LENGTH];
        CC_SHA256_Final(value, &context_);
        return toHex(value, sizeof value);
    }

private:
    CC_SHA256_CTX context_;
#else
    Sha256() : context_(EVP_MD_CTX_new()) {
        if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) fail();
    }
    void update(const char* data, std::size_t length) {
        if (EVP_DigestUpdate(context_.get(), data, length) != 1) fail();
    }
    std::string finish() {
        unsigned char value[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(context_.get(), value, &length) != 1) fail();
        return toHex(value, length);
    }

private:
    [[noreturn]] static void fail() { throw std::runtime_error("the SHA-256 digest failed"); }

    struct Free {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> context_;
#endif
};

}  // namespace

std::string toHex(const unsigned char* bytes, std::size_t length, bool upperCase) {
    const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

std::string sha256Hex(std::string_view bytes) {
    Sha256 digest;
    digest.update(bytes.data(), bytes.size());
    return digest.finish();
}

std::string sha256HexOfFile(const std::string& path) {
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) throw PosixError(errno, "cannot open", path);
    return sha256HexOfFile(fd.get(), path);
}

std::string sha256HexOfFile(int fd, const std::string& name) {
    Sha256 digest;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw PosixError(errno, "cannot read", name);
        if (got == 0) break;
        digest.update(buffer.data(), static_cast<std::size_t>(got));
    }
    return digest.finish();
}

}  // namespace corvidale
