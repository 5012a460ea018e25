#include "app/SupportFiles.h"

#include "app/ConfigTemplate.h"
#include "fake/TestFiles.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {
namespace {

namespace fs = std::filesystem;

class SupportFilesTest : public ::testing::Test {
protected:
    static std::string read(const fs::path& file) { return testing::readFile(file); }
    static void write(const fs::path& file, const std::string& bytes) {
        std::ofstream(file, std::ios::binary) << bytes;
    }
    static struct stat statOf(const fs::path& file) {
        struct stat info {};
        EXPECT_EQ(::lstat(file.c_str(), &info), 0) << file;
        return info;
    }
    static mode_t modeOf(const fs::path& file) { return statOf(file).st_mode & 07777; }

    // Writes `bytes` as an existing .env with an old modification time.
    void existingConfig(const std::string& bytes, mode_t mode = 0600) {
        fs::create_directories(folder_);
        write(env_, bytes);
        ::chmod(env_.c_str(), mode);
        const timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
        ::utimensat(AT_FDCWD, env_.c_str(), old, 0);
    }
    bool untouched() {
        const struct stat info = statOf(env_);
        return info.st_mtim.tv_sec == 1'000'000'000 && info.st_ino == inode_;
    }
    void rememberInode() { inode_ = statOf(env_).st_ino; }

    testing::TemporaryFolder temporary_{"support"};
    fs::path root_ = temporary_.path(), folder_ = root_ / "share" / "Quorvel",
             env_ = folder_ / ".env";
    ino_t inode_ = 0;
};

TEST_F(SupportFilesTest, FirstStartCreatesPrivateFoldersAndTheTemplate) {
    createSupportFilesIn(folder_);
    EXPECT_EQ(read(env_), configTemplate());
    EXPECT_EQ(modeOf(env_), 0600u);
    EXPECT_EQ(modeOf(folder_), 0700u);
    EXPECT_EQ(modeOf(folder_.parent_path()), 0700u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1)
        << "no temporary file is left behind";

    // The fresh template is already migrated: a second start leaves it alone.
    existingConfig(std::string(configTemplate()));
    rememberInode();
    createSupportFilesIn(folder_);
    EXPECT_TRUE(untouched());
}

TEST_F(SupportFilesTest, ExistingFolderKeepsItsMode) {
    fs::create_directories(folder_);
    ::chmod(folder_.c_str(), 0755);
    createSupportFilesIn(folder_);
    EXPECT_EQ(modeOf(folder_), 0755u);
    EXPECT_EQ(read(env_), configTemplate());
}

TEST_F(SupportFilesTest, MigrationRewritesAtomicallyKeepingTheModeAndIsThenStable) {
    existingConfig("# Tarnwick\r\nQUOTE_SYNC_INTERVAL_SECONDS=60\r\nRESEND_API_KEY=secret", 0640);
    createSupportFilesIn(folder_);
    EXPECT_EQ(read(env_), "# Quorvel\n\nQUOTE_SYNC_INTERVAL_SECONDS=180\n\nRESEND_API_KEY=secret");
    EXPECT_EQ(modeOf(env_), 0640u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);

    const std::string once = read(env_);
    existingConfig(once, 0640);
    rememberInode();
    createSupportFilesIn(folder_);
    EXPECT_TRUE(untouched());
    EXPECT_EQ(read(env_), once);
}

TEST_F(SupportFilesTest, InvalidUtf8IsNeverTouched) {
    const std::string bytes = "# Tarnwick\xC0\x80\r\nQUOTE_SYNC_INTERVAL_SECONDS=60";
    existingConfig(bytes);
    rememberInode();
    createSupportFilesIn(folder_);
    EXPECT_TRUE(untouched());
    EXPECT_EQ(read(env_), bytes);
}

TEST_F(SupportFilesTest, LinkedConfigurationStaysLinked) {
    fs::create_directories(folder_);
    write(root_ / "kept.env", "QUOTE_SYNC_INTERVAL_SECONDS=60");
    fs::create_symlink(root_ / "kept.env", env_);
    createSupportFilesIn(folder_);
    EXPECT_TRUE(fs::is_symlink(env_));
    EXPECT_EQ(read(root_ / "kept.env"), "QUOTE_SYNC_INTERVAL_SECONDS=180");
}

TEST_F(SupportFilesTest, FailuresAreSilent) {
    // A file where the folder should be: nothing can be created, nothing is thrown.
    write(root_ / "share", "not a folder");
    EXPECT_NO_THROW(createSupportFilesIn(folder_));
    EXPECT_EQ(read(root_ / "share"), "not a folder");

    // A folder named .env cannot be read as a file and is left alone.
    const fs::path other = root_ / "other";
    fs::create_directories(other / ".env");
    EXPECT_NO_THROW(createSupportFilesIn(other));
    EXPECT_TRUE(fs::is_directory(other / ".env"));
}

} // namespace
} // namespace quorvel
