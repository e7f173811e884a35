// How a run starts and ends under the real runtime: the launcher leaves the
// program's threads alone, misconfigurations stop the JVM at load with one
// line, the exit snapshot is named after the program (a jar with a space in
// its name, a single source file) and never replaces another run's.
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

std::string fileName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The paths that "Generating snapshot in PATH..." lines name, in order.
std::vector<std::string> announcedSnapshots(const std::string& out) {
  std::vector<std::string> paths;
  const std::string prefix = "Generating snapshot in ";
  for (size_t at = out.find(prefix); at != std::string::npos; at = out.find(prefix, at + 1)) {
    size_t end = out.find("...\n", at);
    if (end == std::string::npos) break;
    paths.push_back(out.substr(at + prefix.size(), end - at - prefix.size()));
  }
  return paths;
}

const char kLateWorker[] = R"(public class LateWorker {
  public static void main(String[] args) throws Exception {
    Thread worker = new Thread(() -> {
      try {
        Thread.sleep(1000);
      } catch (InterruptedException e) {
        return;
      }
      System.out.println("worker done");
    });
    worker.start();
    System.out.println("main returns");
    if (args.length > 0) throw new IllegalStateException(args[0]);
  }
}
)";

// The launcher used to end the process as soon as main returned.
TEST(JvmLaunch, TheLauncherWaitsForTheProgramsThreadsAsJavaDoes) {
  std::string classes = makeTempDir("late-worker");
  ASSERT_TRUE(compileClass(classes, "LateWorker", kLateWorker));
  CoverageRun run = runCovered(StartMode::kLauncher, "LateWorker", classes);
  EXPECT_EQ(run.process.exitCode, 0) << describe(run);
  EXPECT_TRUE(complaints(run.process).empty()) << describe(run);
  ASSERT_EQ(run.snapshots.size(), 1u) << describe(run);
  EXPECT_EQ(run.process.out,
            "main returns\nworker done\nGenerating snapshot in " + run.snapshots[0] + "...\n");
  CoverageSnapshot snapshot;
  std::string error;
  ASSERT_TRUE(snapshot.read(run.snapshots[0], &error)) << error;
  const ClassCoverage* c = snapshot.find("LateWorker");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->lineHits(9), 1) << "the worker's println, counted before the snapshot";
}

TEST(JvmLaunch, AMainThatThrowsEndsAsWithJavaAfterItsThreads) {
  std::string classes = makeTempDir("late-worker-throws");
  ASSERT_TRUE(compileClass(classes, "LateWorker", kLateWorker));
  CoverageRun run = runCovered(StartMode::kLauncher, "LateWorker", classes, "", {"boom"});
  EXPECT_EQ(run.process.exitCode, 1) << describe(run);
  ASSERT_EQ(run.snapshots.size(), 1u) << describe(run);
  EXPECT_EQ(run.process.out,
            "main returns\nworker done\nGenerating snapshot in " + run.snapshots[0] + "...\n");
  EXPECT_EQ(run.process.err.rfind(
                "Exception in thread \"main\" java.lang.IllegalStateException: boom\n", 0),
            0u)
      << run.process.err;
}

// Runs java with the runtime's options and a main class from the e2e tools jar.
ProcessResult runWithOptions(const std::string& options, const std::string& dir) {
  std::vector<std::string> argv = {javaPath(), "-agentpath:" + runtimeLibrary() + options, "-cp",
                                   CCI_E2E_TOOLS_JAR, "ExitEarly"};
  return runProcess(argv, dir);
}

TEST(JvmMisconfiguration, EachStopsTheJvmAtLoadWithOneLine) {
  struct Case {
    const char* options;
    std::string line;
  };
  const Case cases[] = {
      {"=snapshotAtExit,home=/nonexistent",
       "cci: home=/nonexistent holds no cci.jar (/nonexistent/cci.jar): name the folder of "
       "cci.jar\n"},
      {"=snapshotAtExit,ccoverJar=/nonexistent.jar",
       "cci: ccoverJar=/nonexistent.jar: no such file\n"},
      {"=snapshotAtExit,ccoverLib=/nonexistent",
       "cci: ccoverLib=/nonexistent holds no libccover.so\n"},
      {"=snapshotAtExit,includes=app/*",
       "cci: includes pattern \"app/*\" has a '/': patterns are dotted class names, as in "
       "includes=app.*\n"},
      {"=snapshotatexit", "cci: unknown or malformed option \"snapshotatexit\"\n"},
  };
  std::string dir = makeTempDir("misconfigured");
  for (const Case& c : cases) {
    ProcessResult r = runWithOptions(c.options, dir);
    EXPECT_EQ(r.exitCode, 1) << c.options << "\n" << r.err;
    EXPECT_EQ(r.err, c.line) << c.options;
    // The JVM's own account of the failed agent, on standard output.
    EXPECT_EQ(r.out, "Error occurred during initialization of VM\nagent library failed to init: " +
                         runtimeLibrary() + "\n")
        << c.options;
    EXPECT_TRUE(filesEndingWith(dir, ".snp").empty());
  }
}

TEST(JvmMisconfiguration, NothingThatWritesASnapshotIsWarnedOnce) {
  std::string dir = makeTempDir("no-snapshot");
  ProcessResult r = runWithOptions("", dir);
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_EQ(r.err,
            "cci: warning: no coverage snapshot will be written; add snapshotAtExit or "
            "destfile=PATH to the options (or nostart when a host starts the agent)\n");
  EXPECT_EQ(r.out, "exiting\n");
  // Asked for, or left to a host: no warning.
  EXPECT_EQ(runWithOptions("=snapshotAtExit", dir).err, "");
  EXPECT_EQ(runWithOptions("=nostart", dir).err, "");
}

// The runtime copied, as the build lays it out, into a folder named "café".
std::string nonAsciiRuntimeCopy() {
  namespace fs = std::filesystem;
  fs::path home = fs::path(runtimeLibrary()).parent_path();
  fs::path root = fs::path(makeTempDir("non-ascii")) / "caf\xc3\xa9";
  fs::create_directories(root / "jvmti");
  fs::create_directories(root / "java");
  fs::create_directories(root / "bin");
  fs::copy_file(runtimeLibrary(), root / "jvmti" / "libcci.so");
  fs::copy_file(home / "cci.jar", root / "jvmti" / "cci.jar");
  fs::copy_file(home / ".." / "java" / "ccover.jar", root / "java" / "ccover.jar");
  fs::copy_file(home / ".." / "bin" / "libccover.so", root / "bin" / "libccover.so");
  return (root / "jvmti" / "libcci.so").string();
}

// Under the C locale the JVM reads "café" as "caf??": it would neither find
// CoverMain nor load the agent library, and the program would run with nothing
// counted. The runtime names the cause at load instead; with a UTF-8 locale
// the same folder works.
TEST(JvmMisconfiguration, ARuntimeFolderTheLocaleCantNameStopsTheJvmAtLoad) {
  std::string library = nonAsciiRuntimeCopy();
  std::string dir = makeTempDir("non-ascii-run");
  std::vector<std::string> argv = {javaPath(), "-agentpath:" + library + "=snapshotAtExit", "-cp",
                                   CCI_E2E_TOOLS_JAR, "ExitEarly"};
  ProcessResult refused = runProcess(argv, dir, {"LC_ALL=C"});
  EXPECT_EQ(refused.exitCode, 1) << refused.err;
  std::string jar = library.substr(0, library.rfind('/')) + "/../java/ccover.jar";
  EXPECT_EQ(refused.err, "cci: the path " + jar +
                             " holds characters that the JVM can't read in this locale's "
                             "encoding (ANSI_X3.4-1968), so it would find no coverage agent "
                             "there: run with a UTF-8 locale (e.g. LC_ALL=C.UTF-8), or install "
                             "ccover under a path of ASCII characters\n");
  EXPECT_TRUE(filesEndingWith(dir, ".snp").empty());

  ProcessResult counted = runProcess(argv, dir, {"LC_ALL=C.UTF-8"});
  EXPECT_EQ(counted.exitCode, 3) << counted.err;
  EXPECT_EQ(counted.err, "");
  EXPECT_EQ(filesEndingWith(dir, ".snp").size(), 1u) << counted.out;
}

std::string jarTool() {
  std::string javac = CCI_E2E_JAVAC;
  return javac.substr(0, javac.rfind('/')) + "/jar";
}

TEST(JvmSnapshotName, AJarWithASpaceIsNamedAfterItsMainClass) {
  std::string dir = makeTempDir("jar-space");
  ASSERT_TRUE(compileClass(dir, "LateWorker", kLateWorker));
  std::ofstream(dir + "/manifest.mf") << "Main-Class: LateWorker\n";
  std::vector<std::string> jar = {jarTool(), "cfm", "hello app.jar", "manifest.mf",
                                  "LateWorker.class"};
  ProcessResult packed = runProcess(jar, dir);
  ASSERT_EQ(packed.exitCode, 0) << describeProcess(jar, packed);
  std::vector<std::string> argv = {javaPath(), "-agentpath:" + runtimeLibrary() + "=snapshotAtExit",
                                   "-jar", "hello app.jar"};
  ProcessResult r = runProcess(argv, dir);
  EXPECT_EQ(r.exitCode, 0) << describeProcess(argv, r);
  std::vector<std::string> snapshots = filesEndingWith(dir, ".snp");
  ASSERT_EQ(snapshots.size(), 1u) << describeProcess(argv, r);
  EXPECT_EQ(fileName(snapshots[0]).rfind("LateWorker_", 0), 0u) << snapshots[0];
}

TEST(JvmSnapshotName, ASingleSourceFileIsNamedAfterItsClass) {
  std::string dir = makeTempDir("source-file");
  ASSERT_TRUE(std::filesystem::create_directory(dir + "/my dir"));
  std::ofstream(dir + "/my dir/Single.java")
      << "// class Commented {}\n"
         "package demo;\n"
         "public class Single {\n"
         "  public static void main(String[] args) {\n"
         "    System.out.println(new Other().name());\n"
         "  }\n"
         "}\n"
         "class Other { String name() { return \"ok\"; } }\n";
  std::vector<std::string> argv = {javaPath(), "-agentpath:" + runtimeLibrary() + "=snapshotAtExit",
                                   "my dir/Single.java", "arg.java"};
  ProcessResult r = runProcess(argv, dir);
  EXPECT_EQ(r.exitCode, 0) << describeProcess(argv, r);
  std::vector<std::string> snapshots = filesEndingWith(dir, ".snp");
  ASSERT_EQ(snapshots.size(), 1u) << describeProcess(argv, r);
  EXPECT_EQ(fileName(snapshots[0]).rfind("demo_Single_", 0), 0u) << snapshots[0];
  CoverageSnapshot snapshot;
  std::string error;
  ASSERT_TRUE(snapshot.read(snapshots[0], &error)) << error;
  const ClassCoverage* other = snapshot.find("demo/Other");
  ASSERT_NE(other, nullptr) << "the source file's classes are covered";
  ASSERT_NE(other->method("name"), nullptr);
  EXPECT_EQ(other->method("name")->invocations, 1);
}

const char kEndAt[] = R"(public class EndAt {
  public static void main(String[] args) throws Exception {
    long target = Long.parseLong(args[0]);
    long now = System.currentTimeMillis();
    if (now > target) System.out.println("late");
    Thread.sleep(Math.max(0, target - now));
  }
}
)";

// Three JVMs end in the same second: each leaves its own snapshot, numbered
// in the order they were created.
TEST(JvmSnapshotName, ThreeJvmsEndingInTheSameSecondKeepThreeSnapshots) {
  std::string classes = makeTempDir("end-at-classes");
  ASSERT_TRUE(compileClass(classes, "EndAt", kEndAt));
  std::string dir = makeTempDir("same-second");
  // 200 ms into a second far enough ahead for three JVMs to start.
  long long target = (static_cast<long long>(time(nullptr)) + 4) * 1000 + 200;
  std::vector<std::string> argv = {javaPath(), "-agentpath:" + runtimeLibrary() + "=snapshotAtExit",
                                   "-cp",      classes,
                                   "EndAt",    std::to_string(target)};
  ProcessResult results[3];
  std::vector<std::thread> runs;
  for (ProcessResult& result : results) {
    runs.emplace_back([&argv, &dir, &result] { result = runProcess(argv, dir); });
  }
  for (std::thread& t : runs) t.join();
  std::set<std::string> announced;
  bool late = false;
  for (const ProcessResult& r : results) {
    EXPECT_EQ(r.exitCode, 0) << describeProcess(argv, r);
    late = late || r.out.find("late\n") != std::string::npos;
    for (const std::string& path : announcedSnapshots(r.out)) announced.insert(path);
  }
  std::vector<std::string> files = filesEndingWith(dir, ".snp");
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files.size(), 3u);
  EXPECT_EQ(std::set<std::string>(files.begin(), files.end()), announced);
  for (const std::string& file : files) {
    CoverageSnapshot snapshot;
    std::string error;
    EXPECT_TRUE(snapshot.read(file, &error)) << file << ": " << error;
  }
  if (late) {
    GTEST_SKIP() << "a JVM started after the agreed second; the names can't be compared";
  }
  ASSERT_EQ(files.size(), 3u);
  // The plain name is the shortest: a number adds two characters.
  std::string plain = *std::min_element(
      files.begin(), files.end(), [](const auto& a, const auto& b) { return a.size() < b.size(); });
  plain.resize(plain.size() - 4);
  EXPECT_EQ(std::set<std::string>(files.begin(), files.end()),
            (std::set<std::string>{plain + ".snp", plain + "-2.snp", plain + "-3.snp"}));
}

}  // namespace
}  // namespace e2e
