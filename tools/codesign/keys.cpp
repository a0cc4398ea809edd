#include "keys.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include "common/fs.h"
#include "core/util/digest.h"

namespace corvidale::tools {
namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Bio = std::unique_ptr<BIO, BioFree>;

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, ContextFree>;

Bio readBio(const std::string& text) {
    if (text.size() > 1024 * 1024) throw ToolError("the key is too large");
    Bio bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
    if (!bio) throw ToolError("out of memory");
    return bio;
}

std::string drain(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

Key requireEd25519(EVP_PKEY* raw, const char* what) {
    Key key(raw);
    if (!key) throw ToolError(std::string("cannot read the ") + what + " (PEM expected)");
    if (EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) throw ToolError(std::string("the ") + what + " is not Ed25519");
    return key;
}

}  // namespace

Key generateKey() {
    Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    if (!key) throw ToolError("cannot generate an Ed25519 key");
    return key;
}

Key privateKeyFromPem(const std::string& pem) {
    const Bio bio = readBio(pem);
    return requireEd25519(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), "private key");
}

Key publicKeyFromPem(const std::string& pem) {
    const Bio bio = readBio(pem);
    return requireEd25519(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr), "public key");
}

std::string privateKeyPem(EVP_PKEY* key) {
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        throw ToolError("cannot encode the private key");
    }
    return drain(bio.get());
}

std::string publicKeyPem(EVP_PKEY* key) {
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PUBKEY(bio.get(), key) != 1) throw ToolError("cannot encode the public key");
    return drain(bio.get());
}

std::string keyId(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key, &der);
    if (length <= 0) throw ToolError("cannot encode the public key");
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    const int ok = EVP_Digest(der, static_cast<std::size_t>(length), digest, &digestLength, EVP_sha256(), nullptr);
    OPENSSL_free(der);
    if (ok != 1) throw ToolError("the SHA-256 digest failed");
    return toHex(digest, digestLength);
}

std::string rawPublicKeyHex(EVP_PKEY* key) {
    unsigned char raw[32];
    std::size_t length = sizeof raw;
    if (EVP_PKEY_get_raw_public_key(key, raw, &length) != 1 || length != sizeof raw) {
        throw ToolError("cannot read the public key");
    }
    return toHex(raw, length);
}

std::string sign(EVP_PKEY* key, const std::string& message) {
    const DigestContext context(EVP_MD_CTX_new());
    std::size_t length = 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
    // Ed25519 hashes the message itself: no digest is named.
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, bytes, message.size()) != 1) {
        throw ToolError("cannot sign");
    }
    std::string signature(length, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length, bytes,
                       message.size()) != 1) {
        throw ToolError("cannot sign");
    }
    signature.resize(length);
    return signature;
}

bool verify(EVP_PKEY* key, const std::string& message, const std::string& signature) {
    const DigestContext context(EVP_MD_CTX_new());
    return context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key) == 1 &&
           EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                            reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

}  // namespace corvidale::tools
