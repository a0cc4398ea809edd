// What a bundle's signature folder holds: the manifest and one or more
// signatures of it, each beside the public key that made it. The first pair
// is "signature" and "public-key.pem", as a seal of one key has always been;
// the n-th (2 to kMaxSigners) is "signature-n" and "public-key-n.pem".
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "keys.h"

namespace corvidale::tools {

inline constexpr std::size_t kMaxSigners = 16;
inline constexpr std::size_t kMaxKeyBytes = 64 * 1024;
// The manifest cannot hold the modes of the folder it lies in, so these are
// fixed: whatever else they are, they are not sealed.
inline constexpr mode_t kSignatureFolderMode = 0755;
inline constexpr mode_t kSealFileMode = 0644;

struct Signer {
    Key publicKey;
    std::string signature;
};

struct Seal {
    std::string manifest;
    std::vector<Signer> signers;
};

std::string signatureFileName(std::size_t index);  // from 0

// How many signers a signature folder holding `names` has: it must hold the
// manifest and, for each signer from the first without a gap, its signature
// and its key, and nothing else. Throws ToolError for any other set.
std::size_t sealSigners(const std::vector<std::string>& names);
std::string publicKeyFileName(std::size_t index);

// The seal of the bundle open at `bundleFd`. The folder must hold exactly the
// files of a seal, numbered without gaps, each with the mode the signing gave
// it; anything else, or a key that can't be read, fails the whole seal.
Seal readSeal(int bundleFd);

// The ids of the seal's keys, each once, in the order they signed.
std::vector<std::string> signerIds(const Seal& seal);

}  // namespace corvidale::tools
