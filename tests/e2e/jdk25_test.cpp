// The bundled samples compiled for Java 21 and Java 25 (class-file versions
// 65 and 69), run under coverage on JDK 25 in both ways the runtime starts:
// every count a sample keeps itself must be in the snapshot. JDK 25 is not a
// Debian package: where it is absent these tests skip with one line.
#include <sys/stat.h>

#include <string>
#include <tuple>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

std::string jdk25Tool(const char* tool) { return std::string(CCI_E2E_JDK25) + "/bin/" + tool; }

bool haveJdk25() {
  struct stat st;
  return stat(jdk25Tool("javac").c_str(), &st) == 0;
}

// The samples compiled by JDK 25's javac for one release, once per process.
std::string samplesFor(const std::string& release) {
  static std::string compiled[2];
  std::string& dir = compiled[release == "21" ? 0 : 1];
  if (!dir.empty()) return dir;
  std::string out = makeTempDir(("cci-samples-" + release).c_str());
  std::vector<std::string> argv = {jdk25Tool("javac"), "--release", release, "-d", out};
  for (const std::string& source : filesEndingWith(sourceDir() + "/samples/src/sample", ".java")) {
    argv.push_back(source);
  }
  ProcessResult r = runProcess(argv, out);
  EXPECT_EQ(r.exitCode, 0) << describeProcess(argv, r);
  if (r.exitCode == 0) dir = out;
  return dir;
}

class JvmJdk25 : public ::testing::TestWithParam<std::tuple<const char*, StartMode, const char*>> {
};

TEST_P(JvmJdk25, SamplesCountExactlyOnJdk25) {
  if (!haveJdk25()) {
    GTEST_SKIP() << "JDK 25 not found at " << CCI_E2E_JDK25 << "; skipped";
  }
  if (sizeof(void*) != 8) {
    GTEST_SKIP() << "JDK 25 is 64-bit only; this runtime is 32-bit; skipped";
  }
  auto [release, mode, sample] = GetParam();
  std::string classes = samplesFor(release);
  ASSERT_FALSE(classes.empty());
  // The agent's Java side loads its library: allowed without a warning.
  CoverageRun run = runCovered(mode, std::string("sample.") + sample, classes, "", {},
                               {jdk25Tool("java"), "--enable-native-access=ALL-UNNAMED"});
  ASSERT_EQ(run.process.exitCode, 0) << describe(run);
  std::vector<std::string> bad = complaints(run.process);
  EXPECT_TRUE(bad.empty()) << bad.front() << "\n" << describe(run);
  ASSERT_EQ(run.snapshots.size(), 1u) << describe(run);
  CoverageSnapshot snapshot;
  std::string error;
  ASSERT_TRUE(snapshot.read(run.snapshots[0], &error)) << error;
  std::vector<LineMark> lines;
  std::vector<EntryMark> entries;
  parseMarks(run.process.out, &lines, &entries);
  ASSERT_FALSE(lines.empty()) << run.process.out;
  // Counting is inline: where threads run the same lines at once a count may
  // come out low, never 0 and never high.
  std::string name(sample);
  bool mayBeLow = name == "Threads" || name == "Synchronized";
  auto expectCount = [mayBeLow](int64_t counted, int64_t truth, const std::string& what) {
    if (!mayBeLow || truth == 0) {
      EXPECT_EQ(counted, truth) << what;
    } else {
      EXPECT_GE(counted, 1) << what;
      EXPECT_LE(counted, truth) << what;
    }
  };
  for (const LineMark& m : lines) {
    const ClassCoverage* c = snapshot.find(m.className);
    ASSERT_NE(c, nullptr) << m.className << " is not in the snapshot\n" << describe(run);
    expectCount(c->lineHits(m.line), m.count, m.className + " line " + std::to_string(m.line));
  }
  for (const EntryMark& m : entries) {
    const ClassCoverage* c = snapshot.find(m.className);
    ASSERT_NE(c, nullptr) << m.className;
    const MethodCoverage* method = c->method(m.method, m.signature);
    ASSERT_NE(method, nullptr) << m.className << "." << m.method << m.signature;
    expectCount(method->invocations, m.count, m.className + "." + m.method + m.signature);
  }
}

std::string caseName(
    const ::testing::TestParamInfo<std::tuple<const char*, StartMode, const char*>>& info) {
  return std::string("Release") + std::get<0>(info.param) +
         (std::get<1>(info.param) == StartMode::kAgentPath ? "_AgentPath_" : "_Launcher_") +
         std::get<2>(info.param);
}

INSTANTIATE_TEST_SUITE_P(
    , JvmJdk25,
    ::testing::Combine(::testing::Values("21", "25"),
                       ::testing::Values(StartMode::kAgentPath, StartMode::kLauncher),
                       ::testing::Values("Branches", "Loops", "Exceptions", "Threads",
                                         "Synchronized", "Constructors", "Lambdas", "Switch",
                                         "StaticInit")),
    caseName);

}  // namespace
}  // namespace e2e
