#include "snapshot/generation.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "snapshot/remote_transfer.h"
#include "tests/support/temp_file.h"

namespace {

struct tm at(int year, int month, int day, int hour, int minute, int second) {
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(ExitSnapshotPath, MainClassAndLocalTimeWithoutLeadingZeros) {
  char path[kSnapshotNameBufferSize];
  ASSERT_TRUE(formatExitSnapshotPath(path, sizeof(path), "work", "app/tools/Main",
                                     at(2026, 3, 5, 9, 7, 4)));
  std::string expected =
      std::string("work") + (path[4] == '\\' ? "\\" : "/") + "app_tools_Main_3-5-2026_9-7-4.snp";
  EXPECT_EQ(std::string(path), expected);
  ASSERT_TRUE(formatExitSnapshotPath(path, sizeof(path), nullptr, "coverageSnapshot",
                                     at(2026, 12, 31, 23, 59, 58)));
  EXPECT_STREQ(path, "coverageSnapshot_12-31-2026_23-59-58.snp") << "no directory: current one";
}

TEST(ExitSnapshotPath, NamesThatDoNotFitAreRefused) {
  char path[kSnapshotNameBufferSize];
  std::string longClass(1023, 'a');
  EXPECT_FALSE(
      formatExitSnapshotPath(path, sizeof(path), "d", longClass.c_str(), at(2026, 1, 1, 0, 0, 0)));
  std::string longDirectory(1000, 'd');
  EXPECT_FALSE(formatExitSnapshotPath(path, sizeof(path), longDirectory.c_str(), "app/Main",
                                      at(2026, 1, 1, 0, 0, 0)));
  char small[32];
  EXPECT_FALSE(formatExitSnapshotPath(small, sizeof(small), "dir", "app/Main",
                                      at(2026, 10, 10, 10, 10, 10)));
  EXPECT_TRUE(
      formatExitSnapshotPath(small, sizeof(small), "dir", "M", at(2026, 10, 10, 10, 10, 10)));
}

TEST(ExitSnapshotPath, ATakenNameGetsANumberBeforeItsSuffix) {
  char path[kSnapshotNameBufferSize];
  ASSERT_TRUE(numberedSnapshotPath(path, sizeof(path), "w/app_Main_12-8-2026_12-46-23.snp", 2));
  EXPECT_STREQ(path, "w/app_Main_12-8-2026_12-46-23-2.snp");
  ASSERT_TRUE(numberedSnapshotPath(path, sizeof(path), "a.snp", 100000));
  EXPECT_STREQ(path, "a-100000.snp");
  char small[8];
  EXPECT_TRUE(numberedSnapshotPath(small, sizeof(small), "a.snp", 9));
  EXPECT_FALSE(numberedSnapshotPath(small, sizeof(small), "a.snp", 10)) << "a-10.snp needs 9";
}

// Several runs ending in the same second: each gets a file of its own, in
// order, and no existing file (or link) is opened or replaced.
TEST(ExitSnapshotPath, ExclusiveCreationNumbersTakenNamesAndKeepsTheirContents) {
  TempFile scratch;  // its name is a unique stem for this test's files
  const std::string base = scratch.path() + "_app_Main_12-8-2026_12-46-23.snp";
  auto numbered = [&](int n) {
    return scratch.path() + "_app_Main_12-8-2026_12-46-23-" + std::to_string(n) + ".snp";
  };
  std::vector<std::string> made;
  for (int run = 1; run <= 3; run++) {
    char path[kSnapshotNameBufferSize];
    snprintf(path, sizeof(path), "%s", base.c_str());
    FILE* file = createExitSnapshotFile(path, sizeof(path));
    ASSERT_NE(file, nullptr) << run;
    fprintf(file, "run %d", run);
    fclose(file);
    made.push_back(path);
  }
  EXPECT_EQ(made, (std::vector<std::string>{base, numbered(2), numbered(3)}));
  for (int run = 1; run <= 3; run++) {
    std::vector<uint8_t> bytes = readFileBytes(made[run - 1]);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "run " + std::to_string(run));
  }
  // A freed plain name is used again: today's name whenever it is free.
  ASSERT_TRUE(platform::removeFile(base.c_str()));
  char path[kSnapshotNameBufferSize];
  snprintf(path, sizeof(path), "%s", base.c_str());
  FILE* again = createExitSnapshotFile(path, sizeof(path));
  ASSERT_NE(again, nullptr);
  fclose(again);
  EXPECT_EQ(std::string(path), base);
  for (const std::string& name : made) EXPECT_TRUE(platform::removeFile(name.c_str())) << name;

  // A folder that does not exist: no numbering, the path as given, errno kept.
  std::string missing = scratch.path() + "_missing/app.snp";
  snprintf(path, sizeof(path), "%s", missing.c_str());
  errno = 0;
  EXPECT_EQ(createExitSnapshotFile(path, sizeof(path)), nullptr);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(std::string(path), missing);
}

TEST(RemoteProgress, FlooredPercentOfTheTotal) {
  EXPECT_EQ(remoteProgress(10240, 25000), 40);
  EXPECT_EQ(remoteProgress(20480, 25000), 81);
  EXPECT_EQ(remoteProgress(25000, 25000), 100);
  EXPECT_EQ(remoteProgress(5, 1), 500);
}

}  // namespace
