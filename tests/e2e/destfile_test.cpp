// destfile=PATH under real JVMs: a silent write into folders made on demand,
// runs appended by the shared merge, many JVMs ending at once on one file, a
// JVM killed during its merge, and failures that leave the old file whole and
// the program's exit code as it was.
#include <stdint.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "merge/snapshot.h"
#include "platform/files.h"
#include "tests/e2e/coverage_snapshot.h"
#include "tests/e2e/e2e_support.h"
#include "tests/harness/signal.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// Tick.main(n [pidFile [goFile [exitCode]]]): calls tick n times, writes its
// process ID to pidFile, waits for goFile to exist, prints one line and exits
// with exitCode.
const char kTick[] = R"(import java.nio.file.*;
public class Tick {
  static int tick(int s) { return s + 1; }
  public static void main(String[] args) throws Exception {
    int n = Integer.parseInt(args[0]);
    int s = 0;
    for (int i = 0; i < n; i++) s = tick(s);
    if (args.length > 1 && !args[1].isEmpty()) {
      Path tmp = Paths.get(args[1] + ".part");
      Files.write(tmp, Long.toString(ProcessHandle.current().pid()).getBytes());
      Files.move(tmp, Paths.get(args[1]), StandardCopyOption.ATOMIC_MOVE);
    }
    if (args.length > 2 && !args[2].isEmpty()) {
      while (!Files.exists(Paths.get(args[2]))) Thread.sleep(2);
    }
    System.out.println("ticks " + s);
    System.exit(args.length > 3 ? Integer.parseInt(args[3]) : 0);
  }
}
)";

class JvmDestfile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    classes_ = new std::string(makeTempDir("destfile-classes"));
    ASSERT_TRUE(compileClass(*classes_, "Tick", kTick));
  }

  static std::vector<std::string> tickCommand(const std::string& options,
                                              const std::vector<std::string>& args) {
    std::vector<std::string> argv = {
        javaPath(), "-Xcheck:jni", "-agentpath:" + runtimeLibrary() + "=" + options,
        "-cp",      *classes_,     "Tick"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  static ProcessResult tick(const std::string& options, const std::vector<std::string>& args) {
    return runProcess(tickCommand(options, args), *classes_);
  }

  // Tick.tick's invocations in the snapshot; -1 (with a failure) when the file
  // is not a whole snapshot.
  static int64_t ticks(const std::string& path) {
    CoverageSnapshot s;
    std::string error;
    if (!s.read(path, &error)) {
      ADD_FAILURE() << path << ": " << error;
      return -1;
    }
    const ClassCoverage* c = s.find("Tick");
    const MethodCoverage* m = c != nullptr ? c->method("tick") : nullptr;
    if (m == nullptr) {
      ADD_FAILURE() << path << " holds no Tick.tick";
      return -1;
    }
    return m->invocations;
  }

  static std::string comment(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    Snapshot s;
    std::string error;
    EXPECT_TRUE(decodeSnapshot(bytes.data(), bytes.size(), &s, &error)) << error;
    return s.signatureText("comment");
  }

  static std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  static std::string* classes_;
};

std::string* JvmDestfile::classes_ = nullptr;

TEST_F(JvmDestfile, WritesSilentlyIntoNewFoldersThenAppendsOrReplaces) {
  std::string dir = makeTempDir("destfile");
  std::string dest = dir + "/target/deep/er/ccover.snp";
  ProcessResult r = tick("destfile=" + dest + ",sessionid=first run", {"3", "", "", "7"});
  EXPECT_EQ(r.exitCode, 7) << r.err;
  EXPECT_EQ(r.out, "ticks 3\n") << "the program's standard output is the program's";
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ticks(dest), 3);
  EXPECT_EQ(comment(dest), "first run");

  r = tick("destfile=" + dest + ",sessionid=second", {"4"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ticks(dest), 7) << "appended by default";
  EXPECT_EQ(comment(dest), "second") << "the newest run's signature";

  r = tick("destfile=" + dest + ",append=false", {"5"});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ticks(dest), 5) << "append=false replaces";

  // Only the snapshot and its lock file remain: no temporary files.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir + "/target/deep/er")) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"ccover.snp", "ccover.snp.lock"}));
}

TEST_F(JvmDestfile, EightJvmsEndingAtOnceAllAddUp) {
  constexpr int kJvms = 8;
  std::string dir = makeTempDir("destfile-eight");
  std::string dest = dir + "/all.snp";
  std::string go = dir + "/go";
  std::vector<ProcessResult> results(kJvms);
  std::vector<std::thread> threads;
  int64_t expected = 0;
  for (int i = 0; i < kJvms; i++) {
    int n = 1000 * (i + 1) + i;
    expected += n;
    std::string pidFile = dir + "/pid" + std::to_string(i);
    threads.emplace_back([&results, i, n, dest, pidFile, go] {
      results[i] = tick("destfile=" + dest, {std::to_string(n), pidFile, go});
    });
  }
  // Every JVM has counted and waits: let them all end at once.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  for (int i = 0; i < kJvms; i++) {
    while (!fs::exists(dir + "/pid" + std::to_string(i)) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  std::ofstream(go) << "go";
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kJvms; i++) {
    EXPECT_EQ(results[i].exitCode, 0) << "JVM " << i << ": " << results[i].err;
    EXPECT_EQ(results[i].err, "") << "JVM " << i;
  }
  EXPECT_EQ(ticks(dest), expected);
}

TEST_F(JvmDestfile, AJvmKilledWhileItMergesLeavesTheOldOrTheNewFile) {
  std::string dir = makeTempDir("destfile-kill");
  std::string dest = dir + "/killed.snp";
  ASSERT_EQ(tick("destfile=" + dest, {"1"}).exitCode, 0);
  int64_t before = ticks(dest);
  ASSERT_EQ(before, 1);
  int kept = 0;
  int replaced = 0;
  // The test holds the lock while the JVM ends, so the JVM waits at it; then
  // the lock is let go and the JVM killed a little later each time, landing
  // in its snapshot, its merge or its rename.
  for (int delayMillis = 0; delayMillis <= 40; delayMillis += 4) {
    std::string pidFile = dir + "/pid" + std::to_string(delayMillis);
    platform::FileLock lock;
    std::string reason;
    ASSERT_TRUE(platform::lockFile(dest + ".lock", 10000, &lock, &reason)) << reason;
    ProcessResult result;
    std::thread jvm([&result, dest, pidFile] {
      result = tick("destfile=" + dest, {"100", pidFile});
    });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(pidFile) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    long pid = std::stol(bytesOf(pidFile));
    // Past System.exit, into VM death and the wait for the lock.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    platform::unlockFile(&lock);
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMillis));
    killProcessNow(pid);
    jvm.join();
    int64_t now = ticks(dest);
    ASSERT_TRUE(now == before || now == before + 100)
        << "killed " << delayMillis << " ms after the lock: " << now << " ticks, had " << before;
    (now == before ? kept : replaced)++;
    before = now;
  }
  // A later run still appends to what the killed ones left.
  ProcessResult r = tick("destfile=" + dest, {"5"});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ticks(dest), before + 5);
  printf("killed JVMs: %d left the old file, %d the new one\n", kept, replaced);
}

TEST_F(JvmDestfile, AnUncreatableFolderKeepsTheExitCodeAndSaysWhy) {
  std::string dir = makeTempDir("destfile-nofolder");
  std::ofstream(dir + "/file") << "a file, not a folder";
  std::string dest = dir + "/file/sub/ccover.snp";
  ProcessResult r = tick("destfile=" + dest, {"2", "", "", "7"});
  EXPECT_EQ(r.exitCode, 7);
  EXPECT_EQ(r.out, "ticks 2\n");
  EXPECT_EQ(r.err, "cci: no snapshot written to " + dest + ": cannot create folder " + dir +
                       "/file: a file of that name is in the way\n");
}

TEST_F(JvmDestfile, AFullDiskKeepsTheOldFileAndTheExitCode) {
  std::string dir = makeTempDir("destfile-full");
  std::vector<std::string> mount = {"/bin/mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", dir};
  ProcessResult mounted = runProcess(mount, "");
  if (mounted.exitCode != 0) {
    GTEST_SKIP() << "a small tmpfs can't be mounted here (needs root): " << mounted.err;
  }
  std::string dest = dir + "/ccover.snp";
  ProcessResult first = tick("destfile=" + dest, {"3"});
  EXPECT_EQ(first.err, "");
  std::string old = bytesOf(dest);
  EXPECT_EQ(ticks(dest), 3);
  {
    // Fill what is left, to the last block.
    std::ofstream filler(dir + "/filler", std::ios::binary);
    std::string block(512, 'x');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) filler.flush();
  }
  ProcessResult r = tick("destfile=" + dest, {"4", "", "", "7"});
  EXPECT_EQ(r.exitCode, 7);
  EXPECT_EQ(r.out, "ticks 4\n");
  EXPECT_NE(r.err.find("cci: no snapshot written to " + dest + ": "), std::string::npos) << r.err;
  EXPECT_EQ(bytesOf(dest), old) << "the old file, whole";
  runProcess({"/bin/umount", dir}, "");
}

}  // namespace
}  // namespace e2e
