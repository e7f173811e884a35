// The parts of the cci interface that need no JVM; the rest is covered by the
// end-to-end tests in tests/e2e.
#include <thread>

#include "cci/cci.h"
#include "gtest/gtest.h"

namespace {

TEST(CciExports, NotInitializedUntilLoadedAsAnAgent) {
  EXPECT_EQ(cciIsInitialized(), 0);
  EXPECT_EQ(cciBuildNumber(), 2);
  EXPECT_EQ(cciGetCObjectsByID(), nullptr);
  EXPECT_EQ(cciGetUnregisteredClasses(), nullptr);
}

TEST(CciExports, ThreadStorageIsPerThread) {
  int mine = 0, theirs = 0;
  qmiSetThreadLocalStorage(nullptr, &mine);
  void* seenByOther = &mine;
  std::thread other([&] {
    seenByOther = qmiGetThreadLocalStorage(nullptr);
    qmiSetThreadLocalStorage(nullptr, &theirs);
  });
  other.join();
  EXPECT_EQ(seenByOther, nullptr);
  EXPECT_EQ(qmiGetThreadLocalStorage(nullptr), &mine);
  qmiSetThreadLocalStorage(nullptr, nullptr);
  EXPECT_EQ(qmiGetThreadLocalStorage(nullptr), nullptr);
}

TEST(CciExports, AuditRequestsNestAndNeverGoBelowZero) {
  EXPECT_EQ(cciDidProcessAuditRequest(), -1);
  EXPECT_EQ(cciWillProcessAuditRequest(), 1);
  EXPECT_EQ(cciWillProcessAuditRequest(), 2);
  EXPECT_EQ(cciDidProcessAuditRequest(), 1);
  EXPECT_EQ(cciDidProcessAuditRequest(), 0);
  EXPECT_EQ(cciDidProcessAuditRequest(), -1);
}

TEST(CciExports, RunControlWithoutAJvmFails) {
  EXPECT_EQ(cciSuspendAllThreads(nullptr), -1);
  EXPECT_EQ(cciResumeAllThreads(nullptr), -1);
  EXPECT_EQ(cciRegisterAuditThread(nullptr), -1);
  EXPECT_EQ(cciSetHandlers(nullptr, nullptr), -1);
}

TEST(CciExports, MemoryComesBackThroughSFree) {
  void* block = sMalloc(64);
  ASSERT_NE(block, nullptr);
  static_cast<char*>(block)[63] = 1;
  sFree(block);
  void* empty = sMalloc(0);
  EXPECT_NE(empty, nullptr);
  sFree(empty);
  sFree(nullptr);
}

}  // namespace
