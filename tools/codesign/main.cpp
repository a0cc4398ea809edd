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
#include "seal.h"

namespace corvidale::tools {
namespace {

constexpr const char* kUsage =
    "usage: corvidale-codesign --verify [--deep] [--strict] [-v] <bundle>\n"
    "       corvidale-codesign -dv [--verbose=N] <bundle>\n"
    "       corvidale-codesign sign --key <private key PEM> [--key <private key PEM>...] <bundle>\n"
    "       corvidale-codesign keygen <private key file to create>\n"
    "       corvidale-codesign keyid <private key PEM>\n";

std::size_t entryCount(const std::string& manifest) {
    const auto lines = static_cast<std::size_t>(std::count(manifest.begin(), manifest.end(), '\n'));
    return lines > 0 ? lines - 1 : 0;  // less the header
}

Fd openBundle(const std::string& path) { return openDirectory(AT_FDCWD, withoutTrailingSlashes(path)); }

Key readPrivateKey(const std::string& path) {
    return privateKeyFromPem(readSmallFile(AT_FDCWD, path, kMaxKeyBytes, true));
}

std::string joined(const std::vector<std::string>& ids) {
    std::string text;
    for (const std::string& id : ids) text += (text.empty() ? "" : ",") + id;
    return text;
}

// Every signature must be good: a seal with one that is not fails whole,
// whoever made the others.
int verifyBundle(const std::string& path) {
    const Fd bundle = openBundle(path);
    const Seal seal = readSeal(bundle.get());
    for (const Signer& signer : seal.signers) {
        if (!verify(signer.publicKey.get(), seal.manifest, signer.signature)) {
            throw ToolError("the signature does not match the sealed manifest");
        }
    }
    const std::string actual = computeManifest(bundle.get());
    if (actual != seal.manifest) {
        for (const std::string& line : describeDifferences(seal.manifest, actual, 20)) {
            std::fprintf(stderr, "corvidale-codesign: %s\n", line.c_str());
        }
        throw ToolError("the bundle does not match its signature");
    }
    const auto ids = signerIds(seal);
    std::printf("valid on disk: %zu entries sealed by key%s %s\n", entryCount(actual), ids.size() > 1 ? "s" : "",
                joined(ids).c_str());
    return 0;
}

// One team line, naming every key that signed, each once: the updater counts
// the pinned ones among them.
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
    std::printf("TeamIdentifier=%s\n", joined(signerIds(seal)).c_str());
    return 0;
}

int signBundle(const std::vector<std::string>& keyPaths, const std::string& path) {
    std::vector<Key> keys;
    std::vector<std::string> ids;
    for (const std::string& keyPath : keyPaths) {
        keys.push_back(readPrivateKey(keyPath));
        ids.push_back(keyId(keys.back().get()));
        if (std::count(ids.begin(), ids.end(), ids.back()) > 1) throw ToolError("the same key is given twice");
    }
    const Fd bundle = openBundle(path);
    const Fd contents = openDirectory(bundle.get(), "Contents");
    removeTree(contents.get(), "_CodeSignature");
    const std::string manifest = computeManifest(bundle.get());
    if (::mkdirat(contents.get(), "_CodeSignature", kSignatureFolderMode) != 0) {
        throw ToolError("cannot create the signature folder");
    }
    const Fd folder = openDirectory(contents.get(), "_CodeSignature");
    // Not the umask's to decide.
    if (::fchmod(folder.get(), kSignatureFolderMode) != 0) throw ToolError("cannot set the signature folder's mode");
    writeNewFile(folder.get(), "manifest", manifest, kSealFileMode);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        writeNewFile(folder.get(), signatureFileName(i), sign(keys[i].get(), manifest), kSealFileMode);
        writeNewFile(folder.get(), publicKeyFileName(i), publicKeyPem(keys[i].get()), kSealFileMode);
    }
    std::printf("signed with key%s %s\n", ids.size() > 1 ? "s" : "", joined(ids).c_str());
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
        std::vector<std::string> keys;
        for (std::size_t i = 1; i + 2 < args.size() && args[i] == "--key"; i += 2) keys.push_back(args[i + 1]);
        if (keys.empty() || keys.size() > kMaxSigners || args.size() != 2 * keys.size() + 2) {
            throw UsageError("sign needs --key <file> (up to 16 times) and <bundle>");
        }
        return signBundle(keys, args.back());
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
