// The real libccover loaded by a real java process, beside the testing runtime
// as its cci: the launcher, start-up through the library's exported names, the
// exit snapshot, and the library's exported symbols.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/reader.h"
#include "tests/harness/jvm.h"

namespace {

struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string scratch(const char* name) {
  std::string dir = std::string(CCOVER_BINARY_DIR) + "/scratch/" + name;
  EXPECT_EQ(system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
  return dir;
}

// exitNow ends the process with exit() while the JVM runs. -Xcheck:jni's
// periodic signal check may then race the end of the process and print its
// report of the handlers ("Warning: SIGSEGV handler modified!", then a list)
// after everything the program wrote; that tail is the JVM's, not ours.
std::string withoutExitSignalCheck(const std::string& out) {
  size_t at = out.find("Warning: SIG");
  if (at == std::string::npos || (at > 0 && out[at - 1] != '\n')) return out;
  return out.substr(0, at);
}

// Runs java from the target's JDK in dir with the agent and the testing runtime
// on the library path.
ProcessResult runJava(const std::string& dir, const std::string& environment,
                      const std::string& arguments) {
  std::string classPath = ccoverJarPath() + ":" + testJarPath();
  std::string command = "cd '" + dir + "' && env " + environment + " LD_LIBRARY_PATH='" +
                        CCOVER_RUNTIME_DIR + ":" + CCOVER_AGENT_DIR + "' '" + CCOVER_TARGET_JDK +
                        "/bin/java' -Xcheck:jni -Djava.library.path='" + CCOVER_AGENT_DIR +
                        "' -cp '" + classPath + "' " + arguments + " >out.txt 2>err.txt";
  ProcessResult r;
  int status = system(command.c_str());
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = withoutExitSignalCheck(slurp(dir + "/out.txt"));
  r.err = slurp(dir + "/err.txt");
  return r;
}

// When the program's main returns, the JVM ends as it would without
// coverage: after the program's other threads. (The testing runtime reports no
// VM death, so no exit snapshot is written here; the end-to-end launch tests
// read the one the real runtime's VM death leaves.)
TEST(JvmLauncher, RunsTheProgramAndWaitsForItsThreadsAsJavaDoes) {
  std::string dir = scratch("launcher");
  ProcessResult r = runJava(dir, "", "quorvatix.audit.CoverMain ccover.testing.LateWorkerMain");
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "main returns\nworker done\n");
}

TEST(JvmLauncher, AMainThatThrowsEndsAsWithJavaAfterItsThreads) {
  std::string dir = scratch("launcher-throws");
  ProcessResult r =
      runJava(dir, "", "quorvatix.audit.CoverMain ccover.testing.LateWorkerMain failed");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "main returns\nworker done\n");
  EXPECT_EQ(r.err.rfind("Exception in thread \"main\" java.lang.IllegalStateException: failed\n"
                        "\tat ccover.testing.LateWorkerMain.main(LateWorkerMain.java:",
                        0),
            0u)
      << r.err;
}

TEST(JvmLauncher, UnknownMainClassEndsWithItsMessage) {
  std::string dir = scratch("launcher-unknown");
  ProcessResult r = runJava(dir, "", "quorvatix.audit.CoverMain app.Missing");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Cannot find class app/Missing\n");
  EXPECT_EQ(r.out, "");
}

TEST(JvmLauncher, RuntimeThatIsNotRunningStopsStartUp) {
  std::string dir = scratch("launcher-uninitialized");
  ProcessResult r = runJava(dir, "CCI_TEST_INITIALIZED=0",
                            "quorvatix.audit.CoverMain ccover.testing.RecordingMain");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("\nThe cci module found by the audit system was not initialized.\n", 0), 0u)
      << r.err;
}

TEST(JvmLauncher, OtherRuntimeBuildWarnsAndRuns) {
  std::string dir = scratch("launcher-build");
  ProcessResult r =
      runJava(dir, "CCI_TEST_BUILD=3", "quorvatix.audit.CoverMain ccover.testing.RecordingMain");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Quillmetry Code Coverage WARNING: cci.dll library version 3 does not "
                        "match ccover.dll version 2.\n",
                        0),
            0u)
      << r.out;
}

std::string commandOutput(const std::string& command) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) text.append(buffer, n);
  pclose(pipe);
  return text;
}

TEST(JvmLauncher, LibraryExportsOnlyItsJniEntryPointsAndNeedsCci) {
  std::string library = std::string(CCOVER_AGENT_DIR) + "/libccover.so";
  std::string symbols = commandOutput("nm -D --defined-only '" + library + "' | awk '{print $3}'");
  ASSERT_FALSE(symbols.empty());
  std::istringstream lines(symbols);
  std::string symbol;
  int jni = 0;
  while (std::getline(lines, symbol)) {
    if (symbol.empty()) continue;
    EXPECT_EQ(symbol.rfind("Java_quorvatix_audit_CoverMain_", 0), 0u) << symbol;
    jni++;
  }
  EXPECT_EQ(jni, 20);
  std::string dynamic = commandOutput("readelf -d '" + library + "'");
  EXPECT_NE(dynamic.find("Shared library: [libcci.so]"), std::string::npos) << dynamic;
  EXPECT_NE(dynamic.find("Library soname: [libccover.so]"), std::string::npos) << dynamic;
}

}  // namespace
