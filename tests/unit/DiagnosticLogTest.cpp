#include "service/DiagnosticLog.h"

#include "fake/TestFiles.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace quorvel {
namespace {

namespace fs = std::filesystem;

class DiagnosticLogTest : public ::testing::Test {
protected:
    std::string contents() const { return testing::readFile(file_); }

    testing::TemporaryFolder temporary_{"log"};
    fs::path folder_ = temporary_.path(), file_ = folder_ / "desktop-notifications.log";
};

TEST(DiagnosticLogLineTest, HasUtcTimeStampAndTheMessageVerbatim) {
    EXPECT_EQ(formatLogLine(1796538650, "GET /api/x status=200 bytes=2"),
              "[2026-12-06T06:30:50Z] GET /api/x status=200 bytes=2\n");
    EXPECT_EQ(formatLogLine(0, ""), "[1970-01-01T00:00:00Z] \n");
    EXPECT_EQ(formatLogLine(951868799, "中文 提醒"), "[2000-02-29T23:59:59Z] 中文 提醒\n");
    EXPECT_EQ(formatLogLine(0, "a\nb"), "[1970-01-01T00:00:00Z] a\nb\n");
}

TEST_F(DiagnosticLogTest, CreatesPrivateFileThenAppends) {
    appendLogLine(file_, "first\n");
    EXPECT_EQ(contents(), "first\n");
    struct stat info {};
    ASSERT_EQ(::stat(file_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    appendLogLine(file_, formatLogLine(0, "通知"));
    EXPECT_EQ(contents(), "first\n[1970-01-01T00:00:00Z] 通知\n");
}

TEST_F(DiagnosticLogTest, ALineThatWouldPassTheLimitStartsANewFileAndKeepsTheOldOne) {
    const std::string line = formatLogLine(0, "pending loaded count=0");
    {
        std::ofstream older(folder_ / "desktop-notifications.log.1");
        older << "older\n";
    }
    appendLogLine(file_, std::string(logSizeLimit - line.size() - 1, 'x') + "\n");
    appendLogLine(file_, line); // exactly at the limit: still this file
    EXPECT_EQ(fs::file_size(file_), logSizeLimit);
    appendLogLine(file_, line);
    EXPECT_EQ(contents(), line);
    const fs::path previous = folder_ / "desktop-notifications.log.1";
    EXPECT_EQ(fs::file_size(previous), logSizeLimit);
    struct stat info {};
    ASSERT_EQ(::stat(previous.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    struct stat current {};
    ASSERT_EQ(::stat(file_.c_str(), &current), 0);
    EXPECT_EQ(current.st_mode & 0777, 0600u);
}

TEST_F(DiagnosticLogTest, MissingFolderDropsLinesUntilItIsBack) {
    fs::remove_all(folder_);
    EXPECT_NO_THROW(appendLogLine(file_, "lost\n"));
    EXPECT_FALSE(fs::exists(folder_)) << "the log never creates the data folder";

    fs::create_directories(folder_);
    appendLogLine(file_, "kept\n");
    EXPECT_EQ(contents(), "kept\n");
}

TEST_F(DiagnosticLogTest, ConcurrentWritersNeverSplitLines) {
    constexpr int kThreads = 4;
    constexpr int kLines = 2500;
    const std::string padding(150, 'x');
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int n = 0; n < kLines; ++n) {
                appendLogLine(file_, formatLogLine(0, std::to_string(t) + " " + std::to_string(n) +
                                                          " " + padding));
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }

    std::istringstream lines(contents());
    std::vector<int> next(kThreads, 0);
    std::string line;
    int total = 0;
    while (std::getline(lines, line)) {
        int thread = -1;
        int number = -1;
        char rest[200] = {};
        ASSERT_EQ(
            std::sscanf(line.c_str(), "[1970-01-01T00:00:00Z] %d %d %199s", &thread, &number, rest),
            3)
            << line;
        ASSERT_TRUE(thread >= 0 && thread < kThreads) << line;
        EXPECT_EQ(number, next[static_cast<std::size_t>(thread)]++)
            << "lines of one thread in order";
        EXPECT_EQ(rest, padding) << line;
        ++total;
    }
    EXPECT_EQ(total, kThreads * kLines);
}

} // namespace
} // namespace quorvel
