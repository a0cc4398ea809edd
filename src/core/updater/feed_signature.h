#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "signing_pins.h"

namespace corvidale::updater {

// The detached signature of a feed, published beside it: one line per
// signer, "<public key> <signature>", the raw Ed25519 public key in 64 and
// the signature of the feed's exact bytes in 128 lower-case hex digits.
inline constexpr const char* kFeedSignatureSuffix = ".sig";
inline constexpr std::size_t kMaxFeedSignatureBytes = 64 * 1024;

enum class FeedSignature { Good, Missing, Wrong, Unpinned };

// Every line must be well-formed and its signature good (one that is not
// makes the whole file wrong); then at least the threshold of distinct
// pinned keys must have signed. Where this system has no Ed25519 (macOS), no
// signature is ever good.
FeedSignature checkFeedSignature(std::string_view feed, const std::optional<std::string>& signature,
                                 const std::optional<SigningPins>& pins);

// The URL of a feed's signature: its path with the suffix.
std::string feedSignatureURL(std::string_view feedURL);

// The key id of a raw Ed25519 public key: the SHA-256 of its
// SubjectPublicKeyInfo, as the signing tool prints it.
std::string ed25519KeyId(std::string_view rawPublicKey);

}  // namespace corvidale::updater
