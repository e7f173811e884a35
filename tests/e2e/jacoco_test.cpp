// Agreement with JaCoCo: on one run of a sample under both agents at once, the
// source lines with a hit in our LCOV output (snp lcov of the exit snapshot)
// are exactly the lines that JaCoCo reports covered (fully or partly). The differences that exist
// by design are explained in docs/runtime.md; the samples avoid them. Both ways of counting
// (counting=inline, counting=exact) must agree.
#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include "gtest/gtest.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// "file:line" for every DA record with a hit, under its SF file.
std::vector<std::string> lcovCoveredLines(const std::string& path) {
  std::set<std::string> lines;
  std::ifstream in(path);
  std::string line, file;
  while (std::getline(in, line)) {
    if (line.rfind("SF:", 0) == 0) {
      file = line.substr(3);
    } else if (line.rfind("DA:", 0) == 0) {
      size_t comma = line.find(',');
      if (comma != std::string::npos && std::stoll(line.substr(comma + 1)) > 0) {
        lines.insert(file + ":" + line.substr(3, comma - 3));
      }
    }
  }
  return std::vector<std::string>(lines.begin(), lines.end());
}

std::string listDifference(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::vector<std::string> only;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(only));
  std::string text;
  for (const std::string& s : only) text += " " + s;
  return text.empty() ? " (none)" : text;
}

class JvmJacocoAgreement : public ::testing::TestWithParam<std::tuple<const char*, const char*>> {};

TEST_P(JvmJacocoAgreement, CoveredLinesAreTheSame) {
  std::string dir = makeTempDir("cci-jacoco");
  std::string exec = dir + "/jacoco.exec";
  std::vector<std::string> argv = {
      javaPath(),
      "-Xcheck:jni",
      "-Xverify:all",
      std::string("-javaagent:") + CCI_E2E_JACOCO_WRAPPER + "=destfile=" + exec +
          ",excludes=org.jacoco.*:org.objectweb.*",
      "-agentpath:" + runtimeLibrary() + "=snapshotAtExit,excludes=org.jacoco.*:org.objectweb.*," +
          std::get<1>(GetParam()),
      "-cp",
      samplesJar(),
      std::string("sample.") + std::get<0>(GetParam())};
  ProcessResult run = runProcess(argv, dir);
  ASSERT_EQ(run.exitCode, 0) << describeProcess(argv, run);
  ASSERT_TRUE(complaints(run).empty()) << describeProcess(argv, run);
  std::vector<std::string> snapshots = filesEndingWith(dir, ".snp");
  ASSERT_EQ(snapshots.size(), 1u) << describeProcess(argv, run);
  std::vector<std::string> lcov = {CCI_E2E_SNP, "lcov", snapshots[0], "-o", dir + "/ours.info"};
  ProcessResult written = runProcess(lcov, dir);
  ASSERT_EQ(written.exitCode, 0) << describeProcess(lcov, written);

  std::vector<std::string> report = {javaPath(),    "-cp", CCI_E2E_JACOCO_LINES,
                                     "JacocoLines", exec,  samplesJar()};
  ProcessResult jacoco = runProcess(report, dir);
  ASSERT_EQ(jacoco.exitCode, 0) << describeProcess(report, jacoco);
  std::vector<std::string> theirs = splitLines(jacoco.out);
  std::sort(theirs.begin(), theirs.end());
  std::vector<std::string> mine = lcovCoveredLines(dir + "/ours.info");
  ASSERT_GT(mine.size(), 10u);
  EXPECT_EQ(mine, theirs) << "only ours:" << listDifference(mine, theirs)
                          << "\nonly JaCoCo's:" << listDifference(theirs, mine);
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<const char*, const char*>>& info) {
  return std::string(std::get<1>(info.param) == std::string("counting=inline") ? "Inline_"
                                                                               : "Exact_") +
         std::get<0>(info.param);
}

INSTANTIATE_TEST_SUITE_P(, JvmJacocoAgreement,
                         ::testing::Combine(::testing::Values("Branches", "Loops", "Exceptions",
                                                              "Threads", "Synchronized",
                                                              "Constructors", "Lambdas", "Switch",
                                                              "StaticInit", "All"),
                                            ::testing::Values("counting=inline", "counting=exact")),
                         caseName);

}  // namespace
}  // namespace e2e
