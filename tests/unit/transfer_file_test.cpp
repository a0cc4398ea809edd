// A download's body goes into a file of its own in the caller's folder, from
// before its first byte, and stays only when it was kept.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "core/util/transfer_file.h"

namespace corvidale {
namespace {

namespace fs = std::filesystem;

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(TransferFile, LivesInTheCallersFolderFromTheStartAndStaysOnlyWhenKept) {
    std::string pattern = (fs::temp_directory_path() / "corvidale-test-XXXXXX").string();
    const std::string run = ::mkdtemp(pattern.data());
    std::optional<TransferFile> body(std::in_place, run, 10);
    const std::string path = body->path();
    EXPECT_EQ(fs::path(path).parent_path(), run);
    EXPECT_TRUE(fs::path(path).filename().string().starts_with("corvidale-download-"));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0) << "there before any byte";
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(body->append("0123456", 7), TransferFile::Append::Written);
    EXPECT_EQ(body->append("abcd", 4), TransferFile::Append::TooLong);
    EXPECT_EQ(body->append("789", 3), TransferFile::Append::Written);
    EXPECT_EQ(contents(path), "0123456789") << "nothing of a refused piece";
    body.reset();
    EXPECT_FALSE(fs::exists(path)) << "not kept: gone";

    body.emplace(run + "/", 0);
    EXPECT_EQ(fs::path(body->path()).parent_path(), run);
    EXPECT_EQ(body->append("any length", 10), TransferFile::Append::Written);
    EXPECT_TRUE(body->keep());
    const std::string kept = body->path();
    body.reset();
    EXPECT_EQ(contents(kept), "any length");

    // A write the system refuses says why; a folder that is not there makes no file.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{4, limit.rlim_max};
    TransferFile full(run, 0);
    ::setrlimit(RLIMIT_FSIZE, &small);
    const auto refused = full.append("12345678", 8);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_EQ(refused, TransferFile::Append::Failed);
    EXPECT_EQ(full.error(), EFBIG);
    try {
        TransferFile nowhere(run + "/absent", 0);
        ADD_FAILURE() << "made " << nowhere.path();
    } catch (const PosixError& error) {
        EXPECT_EQ(error.errorNumber(), ENOENT);
        EXPECT_EQ(error.path(), run + "/absent");
    }
    const char* was = ::getenv("TMPDIR");
    const std::optional<std::string> tmpdir = was ? std::optional<std::string>(was) : std::nullopt;
    ::setenv("TMPDIR", run.c_str(), 1);
    EXPECT_EQ(fs::path(TransferFile("", 0).path()).parent_path(), run);
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(fs::path(TransferFile("", 0).path()).parent_path(), "/tmp");
    tmpdir ? ::setenv("TMPDIR", tmpdir->c_str(), 1) : ::unsetenv("TMPDIR");
    fs::remove_all(run);
}

}  // namespace
}  // namespace corvidale
