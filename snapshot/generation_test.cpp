#include "snapshot/generation.h"

#include <gtest/gtest.h>

#include <string>

#include "snapshot/remote_transfer.h"

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
  std::string expected = std::string("work") + (path[4] == '\\' ? "\\" : "/") +
                         "app_tools_Main_3-5-2026_9-7-4.snp";
  EXPECT_EQ(std::string(path), expected);
  ASSERT_TRUE(formatExitSnapshotPath(path, sizeof(path), nullptr, "coverageSnapshot",
                                     at(2026, 12, 31, 23, 59, 58)));
  EXPECT_STREQ(path, "coverageSnapshot_12-31-2026_23-59-58.snp") << "no directory: current one";
}

TEST(ExitSnapshotPath, NamesThatDoNotFitAreRefused) {
  char path[kSnapshotNameBufferSize];
  std::string longClass(1023, 'a');
  EXPECT_FALSE(formatExitSnapshotPath(path, sizeof(path), "d", longClass.c_str(),
                                      at(2026, 1, 1, 0, 0, 0)));
  std::string longDirectory(1000, 'd');
  EXPECT_FALSE(formatExitSnapshotPath(path, sizeof(path), longDirectory.c_str(), "app/Main",
                                      at(2026, 1, 1, 0, 0, 0)));
  char small[32];
  EXPECT_FALSE(formatExitSnapshotPath(small, sizeof(small), "dir", "app/Main",
                                      at(2026, 10, 10, 10, 10, 10)));
  EXPECT_TRUE(formatExitSnapshotPath(small, sizeof(small), "dir", "M",
                                     at(2026, 10, 10, 10, 10, 10)));
}

TEST(RemoteProgress, FlooredPercentOfTheTotal) {
  EXPECT_EQ(remoteProgress(10240, 25000), 40);
  EXPECT_EQ(remoteProgress(20480, 25000), 81);
  EXPECT_EQ(remoteProgress(25000, 25000), 100);
  EXPECT_EQ(remoteProgress(5, 1), 500);
}

}  // namespace
