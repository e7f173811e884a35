// A class file that can't be read reaches the runtime as it is: the runtime
// says so once, hands the bytes back unchanged, and the JVM reports its own
// error to the program, which goes on (no crash, nothing else lost).
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

TEST(JvmMalformedClasses, AreHandedBackForTheJvmToRefuse) {
  std::string dir = makeTempDir("cci-malformed");
  std::ofstream(dir + "/Bad.java") << "public class Bad { int f() { return 1; } }\n";
  std::ofstream(dir + "/Loads.java")
      << "public class Loads {\n"
         "  public static void main(String[] args) throws Exception {\n"
         "    try {\n"
         "      Class.forName(\"Bad\");\n"
         "      System.out.println(\"loaded\");\n"
         "    } catch (ClassFormatError e) {\n"
         "      System.out.println(\"refused \" + e.getClass().getSimpleName());\n"
         "    }\n"
         "  }\n"
         "}\n";
  std::vector<std::string> javac = {CCI_E2E_JAVAC,     "--release",        "11", "-d", dir,
                                    dir + "/Bad.java", dir + "/Loads.java"};
  ProcessResult compiled = runProcess(javac, dir);
  ASSERT_EQ(compiled.exitCode, 0) << describeProcess(javac, compiled);
  // Cut Bad.class short: its methods are missing.
  std::string path = dir + "/Bad.class";
  std::vector<char> bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_GT(bytes.size(), 40u);
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size() - 30));

  CoverageRun run = runCovered(StartMode::kAgentPath, "Loads", dir);
  ASSERT_EQ(run.process.exitCode, 0) << describe(run);
  EXPECT_NE(run.process.out.find("refused ClassFormatError\n"), std::string::npos) << describe(run);
  EXPECT_NE(run.process.err.find("cci: cannot instrument Bad (not a class file it can read); it "
                                 "is left as it was\n"),
            std::string::npos)
      << describe(run);
  ASSERT_EQ(run.snapshots.size(), 1u) << describe(run);
  CoverageSnapshot snapshot;
  std::string error;
  ASSERT_TRUE(snapshot.read(run.snapshots[0], &error)) << error;
  EXPECT_EQ(snapshot.find("Bad"), nullptr);
  const ClassCoverage* loads = snapshot.find("Loads");
  ASSERT_NE(loads, nullptr);
  EXPECT_EQ(loads->method("main")->invocations, 1);
}

}  // namespace
}  // namespace e2e
