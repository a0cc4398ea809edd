// corvidale-codesign: seals an application bundle with an Ed25519 signature
// over a manifest of every entry in it, and checks such a seal. Its command
// lines take the shape of the macOS code-signing tool's, so that the updater
// runs both platforms' tools from one table.
//
// Nothing this tool prints repeats a name taken from the bundle unencoded:
// the updater looks for "TeamIdentifier=<id>" in the details output, and a
// bundle must not be able to write that text itself.

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/fs.h"
#include "core/util/tree.h"
#include "keys.h"
#include "manifest.h"

namespace corvidale::tools {
namespace {

constexpr const char* kManifestFile = "manifest";
constexpr const char* kSignatureFile = "signature";
constexpr const char* kPublicKeyFile = "public-key.pem";
constexpr std::size_t kMaxKeyBytes = 64 * 1024;
// The manifest cannot hold the modes of the folder it lies in, so these are
// fixed: whatever else they are, they are not sealed.
constexpr mode_t kSignatureFolderMode = 0755;
constexpr mode_t kSealFileMode = 0644;

constexpr const char* kUsage =
    "usage: corvidale-codesign --verify [--deep] [--strict] [-v] <bundle>\n"
    "       corvidale-codesign -dv [--verbose=N] <bundle>\n"
    "       corvidale-codesign sign --key <private key PEM> <bundle>\n"
    "       corvidale-codesign keygen <private key file to create>\n"
    "       corvidale-codesign keyid <private key PEM>\n";

struct Seal {
    std::string manifest;
    std::string signature;
    Key publicKey;
};

std::size_t entryCount(const std::string& manifest) {
    const auto lines = static_cast<std::size_t>(std::count(manifest.begin(), manifest.end(), '\n'));
    return lines > 0 ? lines - 1 : 0;  // less the header
}

Fd openBundle(const std::string& path) { return openDirectory(AT_FDCWD, withoutTrailingSlashes(path)); }

Key readPrivateKey(const std::string& path) {
    return privateKeyFromPem(readSmallFile(AT_FDCWD, path, kMaxKeyBytes, true));
}

void requireMode(const struct stat& info, const std::string& name, mode_t mode) {
    if ((info.st_mode & 07777) != mode) throw ToolError("the mode of " + encodeName(name) + " has been changed");
}

// The signature folder must hold exactly the three files of a seal, with the
// modes the signing gave them.
Seal readSeal(int bundleFd) {
    Fd folder(::openat(bundleFd, kSignatureFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) throw ToolError(std::string("not signed: no ") + kSignatureFolder + " folder");
    struct stat info {};
    if (::fstat(folder.get(), &info) != 0) throw ToolError("cannot examine the signature folder");
    requireMode(info, kSignatureFolder, kSignatureFolderMode);
    const std::vector<std::string> expected = {kManifestFile, kPublicKeyFile, kSignatureFile};
    for (const std::string& name : listDirectory(folder.get())) {
        if (name != expected[0] && name != expected[1] && name != expected[2]) {
            throw ToolError("unexpected entry in the signature folder: " + encodeName(name));
        }
        requireMode(statEntry(folder.get(), name), name, kSealFileMode);
    }
    Seal seal;
    seal.publicKey = publicKeyFromPem(readSmallFile(folder.get(), kPublicKeyFile, kMaxKeyBytes));
    seal.manifest = readSmallFile(folder.get(), kManifestFile, kMaxManifestBytes);
    seal.signature = readSmallFile(folder.get(), kSignatureFile, 1024);
    return seal;
}

int verifyBundle(const std::string& path) {
    const Fd bundle = openBundle(path);
    Seal seal = readSeal(bundle.get());
    if (!verify(seal.publicKey.get(), seal.manifest, seal.signature)) {
        throw ToolError("the signature does not match the sealed manifest");
    }
    const std::string actual = computeManifest(bundle.get());
    if (actual != seal.manifest) {
        for (const std::string& line : describeDifferences(seal.manifest, actual, 20)) {
            std::fprintf(stderr, "corvidale-codesign: %s\n", line.c_str());
        }
        throw ToolError("the bundle does not match its signature");
    }
    std::printf("valid on disk: %zu entries sealed by key %s\n", entryCount(actual),
                keyId(seal.publicKey.get()).c_str());
    return 0;
}

int showDetails(const std::string& path) {
    const Fd bundle = openBundle(path);
    Seal seal;
    try {
        seal = readSeal(bundle.get());
    } catch (const ToolError&) {
        std::printf("TeamIdentifier=not set\n");
        throw;
    }
    std::printf("Format=bundle with a sealed manifest\n");
    std::printf("Signature=Ed25519\n");
    std::printf("Sealed Entries=%zu\n", entryCount(seal.manifest));
    std::printf("TeamIdentifier=%s\n", keyId(seal.publicKey.get()).c_str());
    return 0;
}

int signBundle(const std::string& keyPath, const std::string& path) {
    const Key key = readPrivateKey(keyPath);
    const Fd bundle = openBundle(path);
    const Fd contents = openDirectory(bundle.get(), "Contents");
    removeTree(contents.get(), "_CodeSignature");
    const std::string manifest = computeManifest(bundle.get());
    const std::string signature = sign(key.get(), manifest);
    if (::mkdirat(contents.get(), "_CodeSignature", kSignatureFolderMode) != 0) {
        throw ToolError("cannot create the signature folder");
    }
    const Fd folder = openDirectory(contents.get(), "_CodeSignature");
    // Not the umask's to decide.
    if (::fchmod(folder.get(), kSignatureFolderMode) != 0) throw ToolError("cannot set the signature folder's mode");
    writeNewFile(folder.get(), kManifestFile, manifest, kSealFileMode);
    writeNewFile(folder.get(), kSignatureFile, signature, kSealFileMode);
    writeNewFile(folder.get(), kPublicKeyFile, publicKeyPem(key.get()), kSealFileMode);
    std::printf("signed with key %s\n", keyId(key.get()).c_str());
    return 0;
}

int makeKey(const std::string& path) {
    const Key key = generateKey();
    writeNewFile(AT_FDCWD, path, privateKeyPem(key.get()), 0600);
    std::printf("%s\n", keyId(key.get()).c_str());
    return 0;
}

bool isVerbosity(const std::string& flag) {
    return flag == "-v" || flag == "--verbose" || flag.starts_with("--verbose=");
}

int run(const std::vector<std::string>& args) {
    if (args.empty()) throw UsageError("no command");
    const std::string& command = args[0];
    if (command == "keygen" && args.size() == 2) return makeKey(args[1]);
    if (command == "keyid" && args.size() == 2) {
        std::printf("%s\n", keyId(readPrivateKey(args[1]).get()).c_str());
        return 0;
    }
    if (command == "sign") {
        if (args.size() != 4 || args[1] != "--key") throw UsageError("sign needs --key <file> <bundle>");
        return signBundle(args[2], args[3]);
    }
    bool verifying = false;
    bool displaying = false;
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        const std::string& flag = args[i];
        if (flag == "--verify") {
            verifying = true;
        } else if (flag == "-d" || flag == "--display") {
            displaying = true;
        } else if (flag == "-dv") {
            displaying = true;
        } else if (flag != "--deep" && flag != "--strict" && !isVerbosity(flag)) {
            throw UsageError("unknown option " + encodeName(flag));
        }
    }
    const std::string& bundle = args.back();
    if (verifying == displaying || bundle.empty() || bundle[0] == '-') throw UsageError("nothing to do");
    return verifying ? verifyBundle(bundle) : showDetails(bundle);
}

}  // namespace
}  // namespace corvidale::tools

int main(int argc, char** argv) {
    using namespace corvidale::tools;
    return runMain("corvidale-codesign", kUsage, argc, argv, run);
}
