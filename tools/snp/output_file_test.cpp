#include "tools/snp/output_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tools/snp/test_support.h"

namespace {

namespace fs = std::filesystem;

size_t entryCount(const std::string& folder) {
  size_t n = 0;
  for (const auto& entry : fs::directory_iterator(folder)) n += entry.path().empty() ? 0 : 1;
  return n;
}

std::string failure(const std::function<void()>& run) {
  try {
    run();
  } catch (const SnpError& e) {
    return e.what();
  }
  return "no error";
}

TEST(OutputFile, AFileIsReplacedOnlyOnceWholeAndKeepsItsPermissions) {
  TempDir dir;
  std::string path = dir.file("out.txt");
  writeBytes(path, {'o', 'l', 'd'});
  // As the system keeps them: Windows has only a read-only attribute.
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::perms before = fs::status(path).permissions();
  {
    OutputFile out(path);
    out.stream() << std::string(200000, 'n');
    EXPECT_EQ(readText(path), "old") << "not touched before the commit";
    out.commit();
  }
  EXPECT_EQ(readText(path), std::string(200000, 'n'));
  EXPECT_EQ(fs::status(path).permissions(), before);
  EXPECT_EQ(entryCount(dir.file("")), 1u);
}

TEST(OutputFile, AFailureLeavesTheTargetAndNoTemporaryFile) {
  TempDir dir;
  std::string path = dir.file("out.txt");
  writeBytes(path, {'o', 'l', 'd'});
  EXPECT_EQ(failure([&] {
              OutputFile out(path);
              out.stream() << "partial";
              out.failed(ENOSPC);
              out.commit();
            }),
            "cannot write: No space left on device");
  {
    OutputFile abandoned(dir.file("new.txt"));
    abandoned.stream() << "never committed";
  }
  EXPECT_EQ(readText(path), "old");
  EXPECT_FALSE(fs::exists(dir.file("new.txt")));
  EXPECT_EQ(entryCount(dir.file("")), 1u);
}

TEST(OutputFile, ALinkIsFollowedAndStays) {
  TempDir dir;
  fs::create_directories(dir.file("real"));
  writeBytes(dir.file("real/out.txt"), {'o', 'l', 'd'});
  std::error_code error;
  fs::create_symlink("real/out.txt", dir.file("link.txt"), error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  OutputFile out(dir.file("link.txt"));
  out.stream() << "new";
  out.commit();
  EXPECT_TRUE(fs::is_symlink(dir.file("link.txt")));
  EXPECT_EQ(readText(dir.file("real/out.txt")), "new");
  EXPECT_EQ(entryCount(dir.file("real")), 1u);
}

TEST(OutputFile, ADeviceIsWrittenInPlaceAndNeverRemoved) {
  if (!fs::is_character_file("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  TempDir dir;
  std::error_code error;
  fs::create_symlink("/dev/full", dir.file("full"), error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  EXPECT_EQ(failure([&] {
              OutputFile out(dir.file("full"));
              out.stream() << std::string(100000, 'x');
              out.commit();
            }),
            "cannot write: No space left on device");
  EXPECT_TRUE(fs::is_symlink(dir.file("full")));
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
  EXPECT_EQ(entryCount(dir.file("")), 1u);
}

TEST(OutputFile, FoldersAndTakenNamesAreRefused) {
  TempDir dir;
  EXPECT_EQ(failure([&] { OutputFile out(dir.file("")); }), "cannot write: Is a directory");
  writeBytes(dir.file("taken.html"), {'x'});
  EXPECT_EQ(failure([&] { OutputFile out(dir.file("taken.html"), OutputFile::Mode::kNewFile); }),
            "cannot write: File exists");
  EXPECT_EQ(readText(dir.file("taken.html")), "x");
}

}  // namespace
