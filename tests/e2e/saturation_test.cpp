// Counters stop at 2^32-1 in both ways of counting, in interpreted and in
// compiled code alike: a slot that ran never reads as 0. The runtime's
// counterStart option starts every counter just below the limit, so a short
// loop drives them over it.
#include <stdint.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/e2e/coverage_snapshot.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

constexpr int64_t kMax = 4294967295;
constexpr int64_t kStart = kMax - 1000;

class JvmSaturation : public ::testing::TestWithParam<const char*> {};

TEST_P(JvmSaturation, CountersStopAtTheLimitAndUnrunSlotsKeepTheirStart) {
  std::string dir = makeTempDir("cci-saturation");
  // 20000 turns: past the limit many times over, and enough for the JIT to
  // compile both methods with their probes.
  std::string source =
      "public class Saturate {\n"                     // 1
      "  static int work(int i) {\n"                  // 2
      "    int x = i * 2;\n"                          // 3
      "    return x + 1;\n"                           // 4
      "  }\n"                                         // 5
      "  public static void main(String[] args) {\n"  // 6
      "    long sum = 0;\n"                           // 7
      "    for (int i = 0; i < 20000; i++) {\n"       // 8
      "      sum += work(i);\n"                       // 9
      "    }\n"                                       // 10
      "    if (sum < 0) {\n"                          // 11
      "      System.out.println(\"never\");\n"        // 12
      "    }\n"                                       // 13
      "    System.out.println(\"sum \" + sum);\n"     // 14
      "  }\n"                                         // 15
      "}\n";
  ASSERT_TRUE(compileClass(dir, "Saturate", source));
  std::string options = std::string(GetParam()) + ",counterStart=" + std::to_string(kStart);
  CoverageRun run = runCovered(StartMode::kAgentPath, "Saturate", dir, options);
  ASSERT_EQ(run.process.exitCode, 0) << describe(run);
  EXPECT_EQ(run.process.out.rfind("sum 400000000\n", 0), 0u) << describe(run);
  CoverageSnapshot snapshot;
  std::string error;
  ASSERT_EQ(run.snapshots.size(), 1u) << describe(run);
  ASSERT_TRUE(snapshot.read(run.snapshots[0], &error)) << error;
  const ClassCoverage* c = snapshot.find("Saturate");
  ASSERT_NE(c, nullptr);
  for (int line : {3, 4, 9}) EXPECT_EQ(c->lineHits(line), kMax) << "line " << line;
  // The loop's line has two slots: i = 0, run once, and the test.
  EXPECT_EQ(c->lineHits(8), kStart + 1 + kMax);
  EXPECT_EQ(c->method("work")->invocations, kMax);
  EXPECT_EQ(c->lineHits(7), kStart + 1);
  EXPECT_EQ(c->lineHits(11), kStart + 1);
  EXPECT_EQ(c->lineHits(14), kStart + 1);
  EXPECT_EQ(c->lineHits(12), kStart);
  EXPECT_EQ(c->method("main")->invocations, kStart + 1);
}

INSTANTIATE_TEST_SUITE_P(Counting, JvmSaturation,
                         ::testing::Values("counting=inline", "counting=exact"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) == "counting=inline" ? "Inline" : "Exact";
                         });

}  // namespace
}  // namespace e2e
