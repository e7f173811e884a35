// A program that drives the agent through its phases while it counts (class
// answers, a mark, class and method answers, a snapshot, the exit snapshot):
// counted inline, every figure must be what exact counting gives for the same
// single-threaded run, and the counts must be the program's own.
#include <fstream>
#include <sstream>
#include <string>

#include "gtest/gtest.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

struct PhasesRun {
  CoverageRun run;
  std::string answers;   // stdout without the line that names the folder
  std::string midLcov;   // snp lcov of the snapshot taken while it ran
  std::string exitLcov;  // ... of the exit snapshot
};

std::string readText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string lcov(const std::string& snapshot, const std::string& dir, const char* name) {
  std::vector<std::string> argv = {CCI_E2E_SNP, "lcov", snapshot, "-o", dir + "/" + name};
  ProcessResult written = runProcess(argv, dir);
  EXPECT_EQ(written.exitCode, 0) << describeProcess(argv, written);
  return readText(dir + "/" + name);
}

PhasesRun runPhases(const char* counting) {
  PhasesRun p;
  p.run = runCovered(StartMode::kAgentPath, "Phases", CCI_E2E_TOOLS_JAR, counting, {"mid.snp"});
  EXPECT_EQ(p.run.process.exitCode, 0) << describe(p.run);
  EXPECT_TRUE(complaints(p.run.process).empty()) << describe(p.run);
  std::istringstream out(p.run.process.out);
  std::string line;
  while (std::getline(out, line)) {
    if (line.rfind("Generating snapshot in ", 0) != 0) p.answers += line + "\n";
  }
  std::string exitSnapshot;
  for (const std::string& s : p.run.snapshots) {
    if (s != p.run.dir + "/mid.snp") exitSnapshot = s;
  }
  EXPECT_FALSE(exitSnapshot.empty()) << describe(p.run);
  p.midLcov = lcov(p.run.dir + "/mid.snp", p.run.dir, "mid.info");
  if (!exitSnapshot.empty()) p.exitLcov = lcov(exitSnapshot, p.run.dir, "exit.info");
  return p;
}

TEST(JvmPhases, InlineCountingAnswersAsExactCountingDoes) {
  PhasesRun exact = runPhases("counting=exact");
  PhasesRun inlined = runPhases("counting=inline");
  // The program's own truth: loop ran 10, 7 and 4 times, one mark after the
  // first phase, other once in the second.
  EXPECT_NE(exact.answers.find("phase 1 class {c=8000, cd=8000, cm=0, ml=2, mld=2}"),
            std::string::npos)
      << exact.answers;
  EXPECT_NE(exact.answers.find("phase 3 method {i=3, im=1, c=100.00, cd=100.00, ml=0, mld=0, "
                               "cpl=[3, 3, 21, 21, 3], cplm=[1, 1, 10, 10, 1]}"),
            std::string::npos)
      << exact.answers;
  EXPECT_NE(exact.answers.find("snapshot true\n"), std::string::npos) << exact.answers;
  EXPECT_EQ(inlined.answers, exact.answers);
  EXPECT_NE(exact.midLcov.find("DA:"), std::string::npos) << exact.midLcov;
  EXPECT_EQ(inlined.midLcov, exact.midLcov);
  EXPECT_EQ(inlined.exitLcov, exact.exitLcov);
  EXPECT_NE(exact.midLcov, exact.exitLcov) << "the third phase counts after the snapshot";
}

}  // namespace
}  // namespace e2e
