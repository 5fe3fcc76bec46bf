#include "settings/atomic_file.h"

#include "tests/support/file_helpers.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

class AtomicFile : public ::testing::Test {
protected:
  void SetUp() override { oldMask_ = umask(022); }
  void TearDown() override { umask(oldMask_); }

  static std::string read(const std::string &path) { return ReadWholeFile(path); }
  std::vector<std::string> names() const { return FolderNames(folder_); }
  static mode_t modeOf(const std::string &path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0);
    return info.st_mode & 07777;
  }
  void writeOld(const std::string &text, mode_t mode) {
    std::ofstream(path_, std::ios::binary) << text;
    ASSERT_EQ(chmod(path_.c_str(), mode), 0);
  }

  TempFolder temp_{"atomic"};
  std::string folder_ = temp_.path();
  std::string path_ = folder_ + "/filter.flt";
  mode_t oldMask_ = 0;
};

TEST_F(AtomicFile, CreatesANewFileWithTheUsualPermissions) {
  std::string error;
  std::string content("line\r\nwith\0zero", 15);
  ASSERT_TRUE(WriteFileAtomically(path_, content, error)) << error;
  EXPECT_EQ(read(path_), content);
  EXPECT_EQ(modeOf(path_), 0644u);
  EXPECT_EQ(names(), std::vector<std::string>{"filter.flt"});

  umask(077);
  std::string second = folder_ + "/second";
  ASSERT_TRUE(WriteFileAtomically(second, "x", error)) << error;
  EXPECT_EQ(modeOf(second), 0600u);
}

TEST_F(AtomicFile, ReplacesTheWholeFileAndKeepsItsPermissions) {
  writeOld("a much longer old content that must vanish", 0640);
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(path_, "new", error)) << error;
  EXPECT_EQ(read(path_), "new");
  EXPECT_EQ(modeOf(path_), 0640u);
  ASSERT_TRUE(WriteFileAtomically(path_, "", error)) << error;
  EXPECT_EQ(read(path_), "");
  EXPECT_EQ(names(), std::vector<std::string>{"filter.flt"});
}

TEST_F(AtomicFile, MissingFolderFailsWithTheSystemText) {
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(folder_ + "/absent/filter.flt", "x", error));
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_TRUE(names().empty());
}

TEST_F(AtomicFile, FailedRenameRemovesTheTemporaryFile) {
  ASSERT_TRUE(fs::create_directory(path_));
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(path_, "x", error));
  EXPECT_EQ(error, "Is a directory");
  EXPECT_EQ(names(), std::vector<std::string>{"filter.flt"});
  EXPECT_TRUE(fs::is_directory(path_));
}

// A write that runs out of room part way (here: the file size limit, which
// binds root as well) leaves the old file as it was.
TEST_F(AtomicFile, FailedWriteLeavesTheOldFileIntact) {
  writeOld("old content", 0600);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 4;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  bool written = WriteFileAtomically(path_, "far more than four bytes", error);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldSignal);
  EXPECT_FALSE(written);
  EXPECT_EQ(error, "File too large");
  EXPECT_EQ(read(path_), "old content");
  EXPECT_EQ(modeOf(path_), 0600u);
  EXPECT_EQ(names(), std::vector<std::string>{"filter.flt"});
}

TEST_F(AtomicFile, ReadOnlyFolderFailsAndKeepsTheOldFile) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root writes into read-only folders";
  writeOld("old content", 0644);
  ASSERT_EQ(chmod(folder_.c_str(), 0500), 0);
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(path_, "new", error));
  EXPECT_EQ(error, "Permission denied");
  EXPECT_EQ(read(path_), "old content");
  EXPECT_EQ(names(), std::vector<std::string>{"filter.flt"});
}

} // namespace
