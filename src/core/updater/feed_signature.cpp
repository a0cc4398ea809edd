#include "feed_signature.h"

#include <algorithm>
#include <vector>

#if !defined(__APPLE__)
#include <openssl/evp.h>

#include <memory>
#endif

#include "core/util/digest.h"

namespace corvidale::updater {
namespace {

constexpr std::size_t kMaxSigners = 16;

std::optional<std::string> fromHex(std::string_view hex) {
    if (hex.size() % 2 != 0 || hex.find_first_not_of("0123456789abcdef") != std::string_view::npos) return std::nullopt;
    std::string bytes;
    const auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    for (std::size_t i = 0; i < hex.size(); i += 2) bytes += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
    return bytes;
}

bool verifyEd25519(std::string_view publicKey, std::string_view message, std::string_view signature) {
#if defined(__APPLE__)
    (void)publicKey, (void)message, (void)signature;
    return false;
#else
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(publicKey.data()),
                                    publicKey.size()),
        EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    return key && context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
           EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                            reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
#endif
}

}  // namespace

std::string ed25519KeyId(std::string_view rawPublicKey) {
    static constexpr unsigned char kInfoPrefix[] = {0x30, 0x2a, 0x30, 0x05, 0x06, 0x03,
                                                    0x2b, 0x65, 0x70, 0x03, 0x21, 0x00};
    return sha256Hex(std::string(reinterpret_cast<const char*>(kInfoPrefix), sizeof kInfoPrefix) +
                     std::string(rawPublicKey));
}

FeedSignature checkFeedSignature(std::string_view feed, const std::optional<std::string>& signature,
                                 const std::optional<SigningPins>& pins) {
    if (!signature) return FeedSignature::Missing;
    std::string_view rest = *signature;
    if (rest.empty() || rest.size() > kMaxFeedSignatureBytes) return FeedSignature::Wrong;
    std::vector<std::string> signers;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        const auto key = line.size() == 64 + 1 + 128 && line[64] == ' ' ? fromHex(line.substr(0, 64)) : std::nullopt;
        const auto made = key ? fromHex(line.substr(65)) : std::nullopt;
        if (!made || signers.size() == kMaxSigners || !verifyEd25519(*key, feed, *made)) return FeedSignature::Wrong;
        signers.push_back(ed25519KeyId(*key));
    }
    return pins && pinnedAmong(*pins, signers) >= pins->threshold ? FeedSignature::Good : FeedSignature::Unpinned;
}

std::string feedSignatureURL(std::string_view feedURL) {
    const std::size_t end = std::min(feedURL.find('?'), feedURL.find('#'));
    std::string url(feedURL.substr(0, end));
    url += kFeedSignatureSuffix;
    if (end != std::string_view::npos) url += feedURL.substr(end);
    return url;
}

}  // namespace corvidale::updater
