// Tests of the child-process harness itself: exit codes, both streams byte for
// byte, the environment, and the kill-after delay.
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "tests/harness/child.h"

namespace {

CCOVER_CHILD_SCENARIO(HarnessReturns) {
  fputs("to out", stdout);
  fputs("to err", stderr);
}

CCOVER_CHILD_SCENARIO(HarnessExitsWithThree) {
  printf("before exit\n");
  exit(3);
}

CCOVER_CHILD_SCENARIO(HarnessBinaryStreams) {
  static const char out[] = {'a', '\0', '\n', '\r', '\n', static_cast<char>(0xFF), 'z'};
  static const char err[] = {'\n', '\0', '\0', 'e', '\r'};
  fwrite(out, 1, sizeof(out), stdout);
  fwrite(err, 1, sizeof(err), stderr);
}

CCOVER_CHILD_SCENARIO(HarnessLargeOutput) {
  // More than a pipe holds, interleaved, so a reader of one stream only would
  // deadlock.
  std::string line(1000, 'o');
  std::string errLine(1000, 'e');
  for (int i = 0; i < 1000; i++) {
    fwrite(line.data(), 1, line.size(), stdout);
    fwrite(errLine.data(), 1, errLine.size(), stderr);
  }
}

CCOVER_CHILD_SCENARIO(HarnessPrintsEnvironment) {
  const char* value = getenv("CCOVER_HARNESS_VALUE");
  printf("%s", value != nullptr ? value : "(unset)");
}

CCOVER_CHILD_SCENARIO(HarnessHangs) {
  fputs("alive", stdout);
  fflush(stdout);
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

CCOVER_CHILD_SCENARIO(HarnessFinishesQuickly) { fputs("done", stdout); }

TEST(ChildHarness, ReturningScenarioExitsWithZero) {
  ChildResult r = runChild("HarnessReturns");
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_FALSE(r.killed);
  EXPECT_EQ(r.out, "to out");
  EXPECT_EQ(r.err, "to err");
}

TEST(ChildHarness, ExitCodeIsReported) {
  ChildResult r = runChild("HarnessExitsWithThree");
  EXPECT_EQ(r.exitCode, 3) << describeChild(r);
  EXPECT_EQ(r.out, "before exit\n");
  EXPECT_EQ(r.err, "");
}

TEST(ChildHarness, StreamsAreCapturedByteForByte) {
  ChildResult r = runChild("HarnessBinaryStreams");
  ASSERT_EQ(r.exitCode, 0) << describeChild(r);
  EXPECT_EQ(r.out, std::string("a\0\n\r\n\xFFz", 7));
  EXPECT_EQ(r.err, std::string("\n\0\0e\r", 5));
}

TEST(ChildHarness, LargeInterleavedOutputIsComplete) {
  ChildResult r = runChild("HarnessLargeOutput");
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, std::string(size_t{1000} * 1000, 'o'));
  EXPECT_EQ(r.err, std::string(size_t{1000} * 1000, 'e'));
}

TEST(ChildHarness, ExtraEnvironmentReachesTheChild) {
  ChildOptions options;
  options.extraEnv = {"CCOVER_HARNESS_VALUE=forty two"};
  ChildResult r = runChild("HarnessPrintsEnvironment", options);
  EXPECT_EQ(r.out, "forty two");
  EXPECT_EQ(runChild("HarnessPrintsEnvironment").out, "(unset)");
}

TEST(ChildHarness, UnknownScenarioExitsWith99) {
  ChildResult r = runChild("NoSuchScenario");
  EXPECT_EQ(r.exitCode, 99);
  EXPECT_EQ(r.err, "no child scenario named NoSuchScenario\n");
}

TEST(ChildHarness, ChildAliveAfterDelayIsKilled) {
  ChildOptions options;
  options.killAfterMillis = 500;
  auto start = std::chrono::steady_clock::now();
  ChildResult r = runChild("HarnessHangs", options);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(r.killed);
  EXPECT_FALSE(r.timedOut);
  EXPECT_NE(r.exitCode, 0);
  EXPECT_EQ(r.out, "alive");
  EXPECT_GE(elapsed, std::chrono::milliseconds(500));
  EXPECT_LT(elapsed, std::chrono::seconds(20));
}

TEST(ChildHarness, ChildEndingBeforeDelayIsNotKilled) {
  ChildOptions options;
  options.killAfterMillis = 20000;
  auto start = std::chrono::steady_clock::now();
  ChildResult r = runChild("HarnessFinishesQuickly", options);
  EXPECT_FALSE(r.killed);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "done");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
}

TEST(ChildHarness, HungChildIsKilledAtTimeout) {
  ChildOptions options;
  options.timeoutMillis = 300;
  ChildResult r = runChild("HarnessHangs", options);
  EXPECT_TRUE(r.killed);
  EXPECT_TRUE(r.timedOut);
}

}  // namespace
