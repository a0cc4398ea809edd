#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "common/fs.h"
#include "delta/delta.h"
#include "delta/tree.h"
#include "delta/writer.h"

namespace corvidale::tools::delta {
namespace {

namespace fs = std::filesystem;

// Every entry under `root`: a file's mode and bytes, a link's target, a folder's mode.
std::map<std::string, std::string> tree(const fs::path& root) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const auto status = fs::symlink_status(entry.path());
        std::string value = std::to_string(static_cast<int>(status.permissions()));
        if (fs::is_symlink(status)) value = "-> " + fs::read_symlink(entry.path()).string();
        if (fs::is_regular_file(status)) value += " " + std::string(std::istreambuf_iterator<char>(std::ifstream(entry.path()).rdbuf()), {});
        entries[fs::relative(entry.path(), root).string()] = value;
    }
    return entries;
}

void put(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << bytes;
}

std::string number(std::uint64_t value, int size) {
    std::string raw;
    for (int i = 0; i < size; ++i) raw += static_cast<char>(value >> (8 * i) & 0xFF);
    return raw;
}
std::string head(char kind, const std::string& path) { return kind + number(path.size(), 2) + path; }
std::string file(const std::string& path, const std::string& bytes, std::uint64_t declared, mode_t mode = 0644) {
    std::string frame(ZSTD_compressBound(bytes.size()), '\0');
    frame.resize(ZSTD_compress(frame.data(), frame.size(), bytes.data(), bytes.size(), 3));
    return head('f', path) + number(mode, 4) + number(declared, 8) + number(frame.size(), 8) + frame;
}

// Applies `delta` to a linked copy of `from` made in `into`; answers the error, or "" when it applied.
std::string apply(const fs::path& from, const fs::path& into, const std::string& delta, std::uint64_t cap = 1 << 20) {
    put(into / "delta", delta);
    try {
        copyTree(openDirectory(AT_FDCWD, from.parent_path()).get(), openDirectory(AT_FDCWD, into).get(), "A.app");
        const Fd app = openDirectory(AT_FDCWD, into / "A.app");
        TreeSink sink(app.get());
        readDelta(Fd(::open((into / "delta").c_str(), O_RDONLY)).get(), sink, {cap, 100});
        return "";
    } catch (const ToolError& error) {
        return error.what();
    }
}

TEST(Delta, RebuildsTheNextBundleFromALinkedCopyAndNeverLeavesIt) {
    const fs::path s = fs::temp_directory_path() / ("corvidale-delta-" + std::to_string(::getpid()));
    fs::remove_all(s);
    const fs::path old = s / "old/A.app", next = s / "new/A.app", outside = s / "outside";
    std::string library(200000, 'l');
    for (std::size_t i = 0; i < library.size(); i += 7) library[i] = static_cast<char>('a' + i % 26);
    put(old / "Contents/lib", library), put(old / "Contents/same", "same"), put(old / "Contents/Gone/x", "x");
    fs::create_directory_symlink("Gone", old / "Contents/link");
    fs::create_directories(outside), fs::create_directories(next.parent_path());
    fs::copy(old, next, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    put(next / "Contents/lib", library.substr(0, 90000) + "changed" + library.substr(90000));
    put(next / "Contents/New/n", "new"), put(next / "Contents/New/exact", std::string(1 << 17, 'e'));  // one buffer
    fs::remove_all(next / "Contents/Gone"), fs::remove(next / "Contents/link");
    fs::create_symlink("New/n", next / "Contents/link");
    fs::permissions(next / "Contents/same", fs::perms::owner_all | fs::perms::group_read);
    const auto before = tree(old);
    {
        const Fd out(::open((s / "made").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
        const auto summary = writeDelta(openDirectory(AT_FDCWD, old).get(), openDirectory(AT_FDCWD, next).get(), out.get());
        EXPECT_EQ(summary.patches, 1u);
    }
    std::ifstream made(s / "made");
    const std::string delta(std::istreambuf_iterator<char>(made), {});
    EXPECT_LT(delta.size(), 2000u);  // the library as a patch, not whole
    EXPECT_EQ(apply(old, s / "r0", delta), "");
    EXPECT_TRUE(tree(s / "r0/A.app") == tree(next));
    // From another file system nothing can be linked: the files are copied.
    const fs::path shm = "/dev/shm/corvidale-delta-" + std::to_string(::getpid()) + "/A.app";
    fs::create_directories(shm.parent_path());
    fs::copy(old, shm, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    EXPECT_EQ(apply(shm, s / "r0s", delta), "");
    EXPECT_TRUE(tree(s / "r0s/A.app") == tree(next));
    fs::remove_all(shm.parent_path());
    const std::string m = std::string(kMagic), end = head('e', "");
    const std::vector<std::pair<std::string, std::string>> hostile = {
        {m + head('r', "../outside") + end, "outside the app"}, {m + head('r', "/x") + end, "outside the app"},
        {m + head('r', "Contents//lib") + end, "outside the app"}, {m + head('r', "Contents/./lib") + end, "outside"},
        {m + head('l', "Contents/out") + number(outside.string().size(), 2) + outside.string() +
         file("Contents/out/planted", "x", 1) + end, "cannot open the folder of Contents/out/planted"},
        {m + head('p', "Contents/link") + number(0644, 4) + number(1, 8) + number(0, 8) + end, "not a file of the app"},
        {m + file("Contents/bomb", std::string(1 << 20, 0), 1000) + end, "larger than the delta says"},
        {m + file("Contents/big", "x", 2 << 20) + end, "more than an app may hold"},
        {m + file("Contents/short", "abc", 4) + end, "smaller than the delta says"},
        {m + [&] {
             std::string record = file("Contents/more", "abc", 3);  // the length field follows the path, mode and size
             const std::size_t at = 3 + std::string("Contents/more").size() + 12;
             return record.replace(at, 8, number(record.size() - at - 8 + 4, 8)) + "junk";
         }() + end, "holds more than the file"},
        {m + file("Contents/setuid", "x", 1, 04755) + end, "a mode a bundle has no use for"},
        {m + file("Contents/cut", "abc", 3).substr(0, 30), "cut short"}, {m + end + "x", "goes on after its end"},
        {m + head('q', "Contents/lib") + end, "unknown kind"}, {m + head('r', "Contents/none") + end, "does not hold"},
        {"CORVIDALE DELTA 2\n" + end, "not a delta"},
    };
    int index = 1;
    for (const auto& [bytes, error] : hostile) {
        const fs::path into = s / ("r" + std::to_string(index++));
        fs::create_directories(into);
        EXPECT_NE(apply(old, into, bytes).find(error), std::string::npos) << error << ": " << apply(old, s / "again", bytes);
        fs::remove_all(s / "again");
    }
    EXPECT_TRUE(fs::is_empty(outside));  // nothing written through a link the delta made
    EXPECT_TRUE(tree(old) == before);    // the linked files of the installed app are only ever read
    fs::remove_all(s);
}

}  // namespace
}  // namespace corvidale::tools::delta
