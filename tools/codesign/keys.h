// Ed25519 keys and signatures through OpenSSL's EVP interface.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <string>

namespace corvidale::tools {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

Key generateKey();
Key privateKeyFromPem(const std::string& pem);
Key publicKeyFromPem(const std::string& pem);

std::string privateKeyPem(EVP_PKEY* key);
std::string publicKeyPem(EVP_PKEY* key);

// The key id: SHA-256 of the DER SubjectPublicKeyInfo, lower-case hex.
std::string keyId(EVP_PKEY* key);

// The 32 bytes of the public key as 64 lower-case hex digits.
std::string rawPublicKeyHex(EVP_PKEY* key);

std::string sign(EVP_PKEY* key, const std::string& message);
bool verify(EVP_PKEY* key, const std::string& message, const std::string& signature);

}  // namespace corvidale::tools
