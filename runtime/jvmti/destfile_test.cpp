// The pieces of destfile that need no JVM: the folder of a path, folders made
// on demand, the replacing rename and the lock file. The JVM side (many JVMs,
// kill -9, a full disk) is tests/e2e/destfile_test.cpp.
#include "runtime/jvmti/destfile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/files.h"

namespace cci_jvmti {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class DestfileFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("cci-destfile-" + std::to_string(platform::processId()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  std::string path(const std::string& rel) const { return (root_ / rel).string(); }

  fs::path root_;
};

TEST(DestfileFolder, IsEverythingBeforeTheLastSeparator) {
  EXPECT_EQ(folderOf("target/ccover/a.snp", false), "target/ccover");
  EXPECT_EQ(folderOf("a.snp", false), "");
  EXPECT_EQ(folderOf("/a.snp", false), "/");
  EXPECT_EQ(folderOf("C:\\build\\a.snp", true), "C:\\build");
  EXPECT_EQ(folderOf("C:\\build\\a.snp", false), "") << "a backslash is a name's on POSIX";
}

TEST_F(DestfileFiles, FoldersAreMadeWholeOrTheBlockingFileIsNamed) {
  std::string reason;
  ASSERT_TRUE(platform::makeFolders(path("a/b/c"), &reason)) << reason;
  EXPECT_TRUE(fs::is_directory(path("a/b/c")));
  EXPECT_TRUE(platform::makeFolders(path("a/b/c"), &reason)) << "an existing folder is fine";

  std::ofstream(path("file")) << "x";
  EXPECT_FALSE(platform::makeFolders(path("file/sub"), &reason));
  EXPECT_EQ(reason, "cannot create folder " + path("file") + ": a file of that name is in the way");
}

TEST_F(DestfileFiles, ReplaceSwapsInTheNewFileWhole) {
  std::ofstream(path("old")) << "old bytes";
  std::ofstream(path("new")) << "new bytes";
  std::string reason;
  ASSERT_TRUE(platform::syncFile(path("new"), &reason)) << reason;
  ASSERT_TRUE(platform::replaceFile(path("new"), path("old"), &reason)) << reason;
  EXPECT_EQ(contents(path("old")), "new bytes");
  EXPECT_FALSE(fs::exists(path("new")));
  EXPECT_FALSE(platform::replaceFile(path("gone"), path("old"), &reason));
  EXPECT_EQ(reason.rfind("cannot rename " + path("gone") + " to " + path("old") + ": ", 0), 0u);
  EXPECT_EQ(contents(path("old")), "new bytes");
}

TEST_F(DestfileFiles, TheLockFileIsCreatedAndCanBeTakenAgain) {
  std::string reason;
  platform::FileLock lock;
  ASSERT_TRUE(platform::lockFile(path("d.snp.lock"), 1000, &lock, &reason)) << reason;
  EXPECT_TRUE(fs::exists(path("d.snp.lock")));
  platform::unlockFile(&lock);
  EXPECT_EQ(lock.handle, -1);
  ASSERT_TRUE(platform::lockFile(path("d.snp.lock"), 1000, &lock, &reason)) << reason;
  platform::unlockFile(&lock);

  EXPECT_FALSE(platform::lockFile(path("no/such/folder/x.lock"), 1000, &lock, &reason));
  EXPECT_EQ(reason.rfind("cannot open the lock file " + path("no/such/folder/x.lock") + ": ", 0),
            0u)
      << reason;
}

}  // namespace
}  // namespace cci_jvmti
