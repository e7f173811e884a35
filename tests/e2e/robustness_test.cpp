// Class files that stress the instrumenter (a pre-Java-5 class with
// subroutines, a method that outgrows 64 KiB once instrumented, jumps that
// outgrow 16 bits), run control of the program's threads, the class filter,
// and an exit from the middle of a run.
#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <string>

#include "gtest/gtest.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

int occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

std::string plainRunOutput(const std::string& dir, const std::string& mainClass) {
  std::vector<std::string> argv = {javaPath(), "-cp", dir, mainClass};
  return runProcess(argv, dir).out;
}

bool readSnapshot(const CoverageRun& run, CoverageSnapshot* snapshot) {
  std::string error;
  if (run.snapshots.size() != 1 || !snapshot->read(run.snapshots[0], &error)) {
    ADD_FAILURE() << error << "\n" << describe(run);
    return false;
  }
  return true;
}

// A method of `lines` lines of one statement each, line numbers from first.
std::string statements(int lines) {
  std::string body;
  for (int i = 0; i < lines; i++) body += "    x = x * 31 + i;\n";
  return body;
}

TEST(JvmClassFiles, OldClassWithSubroutinesIsCounted) {
  std::string dir = makeTempDir("cci-old");
  std::vector<std::string> writer = {javaPath(), "-cp",
                                     std::string(CCI_E2E_TOOLS_JAR) + ":" + CCI_E2E_ASM_JAR,
                                     "OldClassWriter", dir};
  ProcessResult written = runProcess(writer, dir);
  ASSERT_EQ(written.exitCode, 0) << describeProcess(writer, written);
  CoverageRun run = runCovered(StartMode::kAgentPath, "OldJsr", dir);
  ASSERT_EQ(run.process.exitCode, 0) << describe(run);
  EXPECT_TRUE(complaints(run.process).empty()) << describe(run);
  EXPECT_NE(run.process.out.find("2\n"), std::string::npos) << describe(run);
  CoverageSnapshot snapshot;
  ASSERT_TRUE(readSnapshot(run, &snapshot));
  const ClassCoverage* c = snapshot.find("OldJsr");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->lineHits(10), 1);
  EXPECT_EQ(c->lineHits(11), 1);
  EXPECT_EQ(c->lineHits(12), 1);
  EXPECT_EQ(c->lineHits(13), 1);
  EXPECT_EQ(c->lineHits(20), 2);
  EXPECT_EQ(c->lineHits(30), 1);
  EXPECT_EQ(c->method("twice")->invocations, 1);
}

TEST(JvmClassFiles, MethodTooLargeOnceInstrumentedIsReportedOnceAndLeftUncounted) {
  std::string dir = makeTempDir("cci-huge");
  std::string source =
      "public class Huge {\n"
      "  static int big(int i) {\n"
      "    int x = 7;\n" +
      statements(8000) +
      "    return x;\n"
      "  }\n"
      "  public static void main(String[] args) {\n"
      "    System.out.println(\"huge \" + big(3) + \" \" + big(4));\n"
      "  }\n"
      "}\n";
  ASSERT_TRUE(compileClass(dir, "Huge", source));
  std::string expected = plainRunOutput(dir, "Huge");
  ASSERT_EQ(expected.rfind("huge ", 0), 0u) << expected;
  CoverageRun run = runCovered(StartMode::kAgentPath, "Huge", dir);
  ASSERT_EQ(run.process.exitCode, 0) << describe(run);
  EXPECT_EQ(run.process.out.substr(0, expected.size()), expected);
  EXPECT_EQ(occurrences(run.process.err,
                        "cci: method Huge.big(I)I is too large to instrument; "
                        "it is left uncounted\n"),
            1)
      << describe(run);
  EXPECT_EQ(occurrences(run.process.err, "cci:"), 1) << describe(run);
  CoverageSnapshot snapshot;
  ASSERT_TRUE(readSnapshot(run, &snapshot));
  const ClassCoverage* c = snapshot.find("Huge");
  ASSERT_NE(c, nullptr);
  const MethodCoverage* big = c->method("big");
  ASSERT_NE(big, nullptr);
  EXPECT_TRUE(big->lines.empty());
  // Its lines are uncounted, but its entry probe fits: it is never shown as not run.
  EXPECT_EQ(big->invocations, 2);
  EXPECT_EQ(c->lineHits(8008), 1);  // main's line, counted as usual
  EXPECT_EQ(c->method("main")->invocations, 1);
}

TEST(JvmClassFiles, JumpsThatOutgrowSixteenBitsAreWidened) {
  std::string dir = makeTempDir("cci-wide");
  // Line 3: int x = 1; line 4: if; lines 5..3004: the block; line 3006: return.
  std::string source =
      "public class Wide {\n"
      "  static int wide(int n, int i) {\n"
      "    int x = 1;\n"
      "    if (n > 0) {\n" +
      statements(3000) +
      "    }\n"
      "    return x;\n"
      "  }\n"
      "  public static void main(String[] args) {\n"
      "    System.out.println(\"wide \" + wide(0, 1) + \" \" + wide(1, 2) + \" \" + wide(2, 3));\n"
      "  }\n"
      "}\n";
  ASSERT_TRUE(compileClass(dir, "Wide", source));
  std::string expected = plainRunOutput(dir, "Wide");
  ASSERT_EQ(expected.rfind("wide ", 0), 0u) << expected;
  CoverageRun run = runCovered(StartMode::kAgentPath, "Wide", dir);
  ASSERT_EQ(run.process.exitCode, 0) << describe(run);
  EXPECT_TRUE(complaints(run.process).empty()) << describe(run);
  EXPECT_EQ(run.process.out.substr(0, expected.size()), expected);
  CoverageSnapshot snapshot;
  ASSERT_TRUE(readSnapshot(run, &snapshot));
  const ClassCoverage* c = snapshot.find("Wide");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->lineHits(3), 3);
  EXPECT_EQ(c->lineHits(5), 2);
  EXPECT_EQ(c->lineHits(3004), 2);
  EXPECT_EQ(c->lineHits(3006), 3);
  EXPECT_EQ(c->method("wide")->invocations, 3);
  EXPECT_EQ(c->method("wide")->lines.size(), 3003u);  // x = 1, if, 3000 lines, return
}

TEST(JvmClassFiles, ClassesOfNamedModulesReachTheProbes) {
  std::string dir = makeTempDir("cci-module");
  std::string src = dir + "/src/demo.app";
  std::string out = dir + "/mods/demo.app";
  ASSERT_EQ(system(("mkdir -p " + src + "/demo/app " + out).c_str()), 0);
  std::ofstream(src + "/module-info.java") << "module demo.app {}\n";
  std::ofstream(src + "/demo/app/Main.java") << "package demo.app;\n"
                                                "public class Main {\n"
                                                "  public static void main(String[] args) {\n"
                                                "    for (int i = 0; i < 3; i++) {\n"
                                                "      System.out.println(\"module \" + i);\n"
                                                "    }\n"
                                                "  }\n"
                                                "}\n";
  std::vector<std::string> javac = {CCI_E2E_JAVAC,
                                    "--release",
                                    "11",
                                    "-d",
                                    out,
                                    src + "/module-info.java",
                                    src + "/demo/app/Main.java"};
  ProcessResult compiled = runProcess(javac, dir);
  ASSERT_EQ(compiled.exitCode, 0) << describeProcess(javac, compiled);
  std::vector<std::string> argv = {javaPath(),
                                   "-Xcheck:jni",
                                   "-Xverify:all",
                                   "-agentpath:" + runtimeLibrary() + "=snapshotAtExit",
                                   "--module-path",
                                   dir + "/mods",
                                   "-m",
                                   "demo.app/demo.app.Main"};
  ProcessResult run = runProcess(argv, dir);
  ASSERT_EQ(run.exitCode, 0) << describeProcess(argv, run);
  EXPECT_TRUE(complaints(run).empty()) << describeProcess(argv, run);
  EXPECT_NE(run.out.find("module 2\n"), std::string::npos) << describeProcess(argv, run);
  std::vector<std::string> snapshots = filesEndingWith(dir, ".snp");
  ASSERT_EQ(snapshots.size(), 1u) << describeProcess(argv, run);
  EXPECT_EQ(snapshots[0].rfind(dir + "/demo_app_Main_", 0), 0u) << snapshots[0];
  CoverageSnapshot snapshot;
  std::string error;
  ASSERT_TRUE(snapshot.read(snapshots[0], &error)) << error;
  const ClassCoverage* c = snapshot.find("demo/app/Main");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->lineHits(5), 3);
  EXPECT_EQ(c->method("main")->invocations, 1);
}

TEST(JvmRunControl, SuspendsTheProgramsThreadsButNotTheCallerOrTheJvms) {
  CoverageRun run = runCovered(StartMode::kAgentPath, "ThreadControl", CCI_E2E_TOOLS_JAR);
  ASSERT_EQ(run.process.exitCode, 0) << describe(run);
  EXPECT_TRUE(complaints(run.process).empty()) << describe(run);
  EXPECT_NE(run.process.out.find("register 1 0\n"), std::string::npos) << describe(run);
  EXPECT_NE(run.process.out.find("paused 1 frozen true\n"), std::string::npos) << describe(run);
  EXPECT_NE(run.process.out.find("resumed 1 moving true\n"), std::string::npos) << describe(run);
  EXPECT_NE(run.process.out.find("requests 1 2 1 0 -1\n"), std::string::npos) << describe(run);
}

TEST(JvmFilter, IncludesAndExcludesChooseTheClasses) {
  CoverageRun run = runCovered(StartMode::kAgentPath, "sample.Constructors", samplesJar(),
                               "includes=sample.Constructors*,excludes=*$Derived");
  ASSERT_EQ(run.process.exitCode, 0) << describe(run);
  CoverageSnapshot snapshot;
  ASSERT_TRUE(readSnapshot(run, &snapshot));
  EXPECT_NE(snapshot.find("sample/Constructors"), nullptr);
  EXPECT_NE(snapshot.find("sample/Constructors$Base"), nullptr);
  EXPECT_EQ(snapshot.find("sample/Constructors$Derived"), nullptr);
  EXPECT_EQ(snapshot.find("sample/Mark"), nullptr);
  for (const auto& entry : snapshot.classes) {
    EXPECT_EQ(entry.first.rfind("sample/Constructors", 0), 0u) << entry.first;
  }
}

TEST(JvmShutdown, SystemExitFromAnotherThreadStillLeavesTheSnapshot) {
  CoverageRun run = runCovered(StartMode::kAgentPath, "ExitEarly", CCI_E2E_TOOLS_JAR);
  EXPECT_EQ(run.process.exitCode, 3) << describe(run);
  EXPECT_TRUE(complaints(run.process).empty()) << describe(run);
  EXPECT_EQ(run.process.out.find("never printed"), std::string::npos);
  CoverageSnapshot snapshot;
  ASSERT_TRUE(readSnapshot(run, &snapshot));
  EXPECT_EQ(run.snapshots[0].rfind(run.dir + "/ExitEarly_", 0), 0u) << run.snapshots[0];
  const ClassCoverage* c = snapshot.find("ExitEarly");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->lineHits(7), 1);   // the thread's println
  EXPECT_EQ(c->lineHits(12), 0);  // after the join
}

}  // namespace
}  // namespace e2e
