// The start-up trace (CCI_TRACE=1): every step of the runtime's life on
// standard error in order, and the class hook's totals. The totals also show
// that the hook is enabled only at VM init: the JDK classes loaded before it
// never reach the hook, while the program's classes are all instrumented.
#include <stdio.h>

#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

ProcessResult runTraced(const std::string& dir, const std::string& setting,
                        const std::vector<std::string>& javaOptions = {}) {
  std::vector<std::string> argv = {javaPath()};
  argv.insert(argv.end(), javaOptions.begin(), javaOptions.end());
  argv.insert(argv.end(), {"-agentpath:" + runtimeLibrary() + "=snapshotAtExit", "-cp",
                           samplesJar(), "sample.Loops"});
  ProcessResult result = runProcess(argv, dir, {"CCI_TRACE=" + setting});
  EXPECT_EQ(result.exitCode, 0) << describeProcess(argv, result);
  return result;
}

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
  return n;
}

TEST(JvmStartupTrace, StepsInOrderAndTheHookFromVmInitOn) {
  std::string dir = makeTempDir("cci-trace");
  ProcessResult traced = runTraced(dir, "1", {"-Xlog:class+load=info:stdout"});
  const std::string& err = traced.err;
  size_t at = 0;
  for (const char* step : {"load", "loaded", "vm init", "probes bound", "main class named",
                           "java side started", "vm death", "class hook:", "agent shut down"}) {
    size_t found = err.find(std::string(step), at);
    ASSERT_NE(found, std::string::npos) << "step \"" << step << "\" missing or out of order:\n"
                                        << err;
    at = found + 1;
  }
  // The inline probes ran on the runtime's own record before the program,
  // counting there and nowhere else (300 rounds of the four probes).
  unsigned lineCounts = 0, entries = 0;
  size_t warmed = err.find("cci: trace probes warmed: ");
  ASSERT_NE(warmed, std::string::npos) << err;
  ASSERT_EQ(sscanf(err.c_str() + warmed, "cci: trace probes warmed: %u line counts, %u entries",
                   &lineCounts, &entries),
            2)
      << err;
  EXPECT_EQ(lineCounts, 900u);
  EXPECT_EQ(entries, 600u);
  EXPECT_LT(warmed, err.find("probes bound")) << err;
  unsigned seen = 0, changed = 0;
  double millis = -1;
  size_t totals = err.find("cci: trace class hook: ");
  ASSERT_NE(totals, std::string::npos) << err;
  ASSERT_EQ(sscanf(err.c_str() + totals,
                   "cci: trace class hook: %u classes seen, %u changed, %lf ms in the hook", &seen,
                   &changed, &millis),
            3)
      << err;
  size_t loaded = count(traced.out, "[class,load]");
  // Loops and the samples' Mark are instrumented; no JDK class is.
  EXPECT_GE(changed, 2u) << err;
  EXPECT_LT(changed, 10u) << err;
  EXPECT_GE(millis, 0.0);
  // Some 400 JDK classes load before VM init: the hook never sees them.
  EXPECT_GT(loaded, 300u) << traced.out;
  EXPECT_LT(seen + 300, loaded) << "the hook saw classes loaded before VM init\n" << err;
  EXPECT_EQ(filesEndingWith(dir, ".snp").size(), 1u);
}

TEST(JvmStartupTrace, OffByDefaultAndAnUnknownSettingIsNamed) {
  std::string dir = makeTempDir("cci-trace");
  ProcessResult off = runTraced(dir, "0");
  EXPECT_EQ(off.err.find("cci:"), std::string::npos) << off.err;
  ProcessResult bogus = runTraced(dir, "yes please");
  EXPECT_EQ(bogus.err,
            "cci: CCI_TRACE=yes please is neither 1 nor 0; the start-up trace stays off\n");
}

}  // namespace
}  // namespace e2e
