#include "seal.h"

#include <fcntl.h>

#include <algorithm>
#include <set>

#include "common/fs.h"
#include "core/util/tree.h"
#include "manifest.h"

namespace corvidale::tools {
namespace {

constexpr const char* kManifestFile = "manifest";

void requireMode(const struct stat& info, const std::string& name, mode_t mode) {
    if ((info.st_mode & 07777) != mode) throw ToolError("the mode of " + encodeName(name) + " has been changed");
}

}  // namespace

std::size_t sealSigners(const std::vector<std::string>& names) {
    std::set<std::string> allowed{kManifestFile};
    for (std::size_t i = 0; i < kMaxSigners; ++i) allowed.insert({signatureFileName(i), publicKeyFileName(i)});
    std::size_t signatures = 0;
    for (const std::string& name : names) {
        if (!allowed.contains(name)) throw ToolError("unexpected entry in the signature folder: " + encodeName(name));
        if (name.starts_with("signature")) ++signatures;
    }
    const std::set<std::string> present(names.begin(), names.end());
    bool whole = present.size() == names.size() && present.size() == 2 * signatures + 1 && present.contains(kManifestFile);
    for (std::size_t i = 0; i < signatures; ++i) {
        whole = whole && present.contains(signatureFileName(i)) && present.contains(publicKeyFileName(i));
    }
    if (signatures == 0 || !whole) throw ToolError("the signature folder does not hold a whole seal");
    return signatures;
}

std::string signatureFileName(std::size_t index) {
    return index == 0 ? "signature" : "signature-" + std::to_string(index + 1);
}

std::string publicKeyFileName(std::size_t index) {
    return index == 0 ? "public-key.pem" : "public-key-" + std::to_string(index + 1) + ".pem";
}

Seal readSeal(int bundleFd) {
    Fd folder(::openat(bundleFd, kSignatureFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) throw ToolError(std::string("not signed: no ") + kSignatureFolder + " folder");
    struct stat info {};
    if (::fstat(folder.get(), &info) != 0) throw ToolError("cannot examine the signature folder");
    requireMode(info, kSignatureFolder, kSignatureFolderMode);
    const std::vector<std::string> names = listDirectory(folder.get());
    for (const std::string& name : names) requireMode(statEntry(folder.get(), name), name, kSealFileMode);
    const std::size_t count = sealSigners(names);
    Seal seal;
    for (std::size_t i = 0; i < count; ++i) {
        Signer signer;
        signer.publicKey = publicKeyFromPem(readSmallFile(folder.get(), publicKeyFileName(i), kMaxKeyBytes));
        signer.signature = readSmallFile(folder.get(), signatureFileName(i), 1024);
        seal.signers.push_back(std::move(signer));
    }
    seal.manifest = readSmallFile(folder.get(), kManifestFile, kMaxManifestBytes);
    return seal;
}

std::vector<std::string> signerIds(const Seal& seal) {
    std::vector<std::string> ids;
    for (const Signer& signer : seal.signers) {
        std::string id = keyId(signer.publicKey.get());
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(std::move(id));
    }
    return ids;
}

}  // namespace corvidale::tools
