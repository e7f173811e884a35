// Snapshot requests from the Java side: local files, remote transfer through a
// CoverReporter, and the exit snapshot.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "agent/run_control.h"
#include "agent/start.h"
#include "model/object_table.h"
#include "platform/platform.h"
#include "runtime/testing/cci_testing.h"
#include "snapshot/generation.h"
#include "snapshot/remote_transfer.h"
#include "support/reader.h"
#include "support/vector.h"
#include "tests/harness/captured_output.h"
#include "tests/harness/child.h"
#include "tests/harness/jvm.h"
#include "tests/support/java_values.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool fileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

std::string scratchDir(const char* name) {
  std::string dir = std::string(CCOVER_BINARY_DIR) + "/scratch/" + name;
  std::string command = "rm -rf '" + dir + "' && mkdir -p '" + dir + "'";
  EXPECT_EQ(system(command.c_str()), 0);
  return dir;
}

// The byte ranges of a snapshot's items, decoded one after another.
std::vector<std::string> snapshotItems(const std::string& bytes) {
  std::vector<std::string> items;
  SEReader* reader = SEReaderNew();
  size_t offset = 0;
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  while (offset < bytes.size()) {
    size_t start = offset;
    const SEView* view;
    if (!SEReadValue(reader, data, bytes.size(), &offset, &view)) {
      ADD_FAILURE() << SEReaderError(reader);
      break;
    }
    items.push_back(bytes.substr(start, offset - start));
  }
  SEReaderFree(reader);
  return items;
}

class JvmSnapshots : public JvmTest {
 protected:
  void SetUp() override {
    JvmTest::SetUp();
    cciTestReset();
    ASSERT_EQ(startAgent(env(), JNI_FALSE, JNI_FALSE), 0);
    CciTestMethodSpec methods[] = {{901, "run", "()V", 0, 300, nullptr},
                                   {902, "stop", "()V", 0x20, 2, nullptr}};
    cls_ = cciTestAddClass(900, "app/Service", "Service.java", 1, 1, methods, 2);
    cciTestAddInterface(950, "app/Api", "Api.java", 0x601, nullptr, 0);
  }

  jobject newObject(const char* className, const char* signature = "()V", jint arg = 0) {
    jclass cls = env()->FindClass(className);
    EXPECT_NE(cls, nullptr) << className;
    jmethodID init = env()->GetMethodID(cls, "<init>", signature);
    jobject object =
        signature[1] == ')' ? env()->NewObject(cls, init) : env()->NewObject(cls, init, arg);
    env()->DeleteLocalRef(cls);
    return object;
  }

  std::string reporterCalls(jobject reporter) {
    jclass cls = env()->GetObjectClass(reporter);
    jmethodID callText = env()->GetMethodID(cls, "callText", "()Ljava/lang/String;");
    jstring text = static_cast<jstring>(env()->CallObjectMethod(reporter, callText));
    env()->ExceptionCheck();
    std::string result = javaString(env(), text);
    env()->DeleteLocalRef(cls);
    return result;
  }

  std::string streamBytes(jobject stream) {
    jclass cls = env()->GetObjectClass(stream);
    jmethodID toByteArray = env()->GetMethodID(cls, "toByteArray", "()[B");
    auto array = static_cast<jbyteArray>(env()->CallObjectMethod(stream, toByteArray));
    env()->ExceptionCheck();
    jsize n = env()->GetArrayLength(array);
    std::string bytes(static_cast<size_t>(n), '\0');
    env()->GetByteArrayRegion(array, 0, n, reinterpret_cast<jbyte*>(bytes.data()));
    env()->DeleteLocalRef(cls);
    return bytes;
  }

  jboolean snapshot(const std::string& file, const char* source, const char* comment,
                    jobject reporter, jobject stream, bool local) {
    jstring f = env()->NewStringUTF(file.c_str());
    jstring s = source != nullptr ? env()->NewStringUTF(source) : nullptr;
    jstring c = comment != nullptr ? env()->NewStringUTF(comment) : nullptr;
    return generateSnapshot(env(), f, s, c, reporter, stream, local ? JNI_TRUE : JNI_FALSE);
  }

  CClass* cls_ = nullptr;
};

TEST_F(JvmSnapshots, RemoteTransferSendsFullChunksAndTheRestAtClose) {
  struct Case {
    int size;
    const char* calls;
  } cases[] = {
      {25000,
       "open name.snp\nwrite 10240 40 10240\nwrite 10240 81 10240\nwrite 4520 100 10240\nclose"},
      {20480,
       "open name.snp\nwrite 10240 50 10240\nwrite 10240 100 10240\nwrite 0 100 10240\nclose"},
      {100, "open name.snp\nwrite 100 100 10240\nclose"},
  };
  for (const Case& c : cases) {
    jobject reporter = newObject("ccover/testing/RecordingReporter");
    jobject stream = newObject("java/io/ByteArrayOutputStream");
    std::string data(static_cast<size_t>(c.size), '\0');
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<char>(i * 7 + 3);
    ASSERT_TRUE(
        openRemoteTransfer(env(), "name.snp", reporter, stream, static_cast<uint32_t>(c.size)));
    // Blocks that straddle chunk boundaries.
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    int sent = 0;
    for (int block = 3333; sent < c.size; sent += block) {
      ASSERT_TRUE(writeRemoteTransfer(bytes + sent, std::min(block, c.size - sent)));
    }
    ASSERT_TRUE(closeRemoteTransfer());
    EXPECT_EQ(reporterCalls(reporter), c.calls) << c.size;
    EXPECT_EQ(streamBytes(stream), data) << c.size;
  }
}

TEST_F(JvmSnapshots, ZeroTotalSizeCountsAsOne) {
  jobject reporter = newObject("ccover/testing/RecordingReporter");
  jobject stream = newObject("java/io/ByteArrayOutputStream");
  uint8_t bytes[5] = {1, 2, 3, 4, 5};
  ASSERT_TRUE(openRemoteTransfer(env(), "n", reporter, stream, 0));
  ASSERT_TRUE(writeRemoteTransfer(bytes, 5));
  ASSERT_TRUE(closeRemoteTransfer());
  EXPECT_EQ(reporterCalls(reporter), "open n\nwrite 5 500 10240\nclose");
}

TEST_F(JvmSnapshots, ThrowingReporterStopsTheTransfer) {
  jobject reporter = newObject("ccover/testing/ThrowingReporter", "(I)V", 1);
  jobject stream = newObject("java/io/ByteArrayOutputStream");
  std::string data(30000, 'x');
  ASSERT_TRUE(openRemoteTransfer(env(), "n", reporter, stream, 30000));
  EXPECT_FALSE(writeRemoteTransfer(reinterpret_cast<const uint8_t*>(data.data()), 30000));
  ASSERT_TRUE(env()->ExceptionCheck());
  env()->ExceptionClear();
  EXPECT_EQ(reporterCalls(reporter), "open n\nwrite 10240 34 10240");
}

TEST_F(JvmSnapshots, LocalSnapshotRunsTheUpdateFirstAndHoldsTheTableLockOnce) {
  std::string dir = scratchDir("local");
  cls_->methods[0].hits[0] = 5;
  noteTouchedClass(900);
  int64_t lockBefore = cciTestMonitorEntries(objectTables.idToCObjectsLock);
  ASSERT_TRUE(snapshot(dir + "/a.snp", nullptr, nullptr, nullptr, nullptr, true));
  EXPECT_EQ(QMSize(objectTables.updatedClasses), 0);
  EXPECT_EQ(cls_->coverage, 33) << "1 of 302 slots";
  // One lookup by the update, one hold for the document.
  EXPECT_EQ(cciTestMonitorEntries(objectTables.idToCObjectsLock), lockBefore + 2);
  SEReader* reader = SEReaderNew();
  SESnapshotView view;
  ASSERT_TRUE(SEReadSnapshotFile(reader, (dir + "/a.snp").c_str(), &view)) << SEReaderError(reader);
  EXPECT_EQ(view.count, 4);
  EXPECT_EQ(view.items[1].count, 3) << "no comment, no source path";
  EXPECT_EQ(view.items[2].count, 2) << "class and interface";
  EXPECT_EQ(view.items[3].count, 2);
  SEReaderFree(reader);
}

TEST_F(JvmSnapshots, RemoteSnapshotEqualsTheLocalOneApartFromItsSignature) {
  std::string dir = scratchDir("remote");
  setenv("TMPDIR", dir.c_str(), 1);
  cls_->methods[1].invocations = 70000;
  ASSERT_TRUE(snapshot(dir + "/local.snp", "src", "a comment", nullptr, nullptr, true));
  jobject reporter = newObject("ccover/testing/RecordingReporter");
  jobject stream = newObject("java/io/ByteArrayOutputStream");
  ASSERT_TRUE(snapshot("viewer-name.snp", "src", "a comment", reporter, stream, false));
  unsetenv("TMPDIR");
  std::string local = readFile(dir + "/local.snp");
  std::string remote = streamBytes(stream);
  std::vector<std::string> a = snapshotItems(local);
  std::vector<std::string> b = snapshotItems(remote);
  ASSERT_EQ(a.size(), 5u);
  ASSERT_EQ(b.size(), 5u);
  EXPECT_EQ(a[0], b[0]);
  EXPECT_EQ(a[2], b[2]);
  EXPECT_EQ(a[3], b[3]);
  EXPECT_EQ(a[4], b[4]);
  std::string calls = reporterCalls(reporter);
  EXPECT_EQ(calls.rfind("open viewer-name.snp\n", 0), 0u) << calls;
  EXPECT_EQ(calls.substr(calls.size() - 6), "\nclose");
  // Only the local snapshot is left: the temporary file is gone.
  std::string listing;
  FILE* ls = popen(("ls '" + dir + "'").c_str(), "r");
  char line[256];
  while (fgets(line, sizeof(line), ls) != nullptr) listing += line;
  pclose(ls);
  EXPECT_EQ(listing, "local.snp\n");
}

TEST_F(JvmSnapshots, ThrowingReporterFailsTheSnapshotAndLeavesItsException) {
  std::string dir = scratchDir("throwing");
  setenv("TMPDIR", dir.c_str(), 1);
  for (int k = 0; k < 300; k++) cls_->methods[0].hits[k] = 100000 + k;  // over one chunk
  jobject reporter = newObject("ccover/testing/ThrowingReporter", "(I)V", 1);
  jobject stream = newObject("java/io/ByteArrayOutputStream");
  EXPECT_FALSE(snapshot("n.snp", nullptr, nullptr, reporter, stream, false));
  unsetenv("TMPDIR");
  ASSERT_TRUE(env()->ExceptionCheck()) << "the exception stays pending for the caller";
  env()->ExceptionClear();
  EXPECT_EQ(reporterCalls(reporter).find("close"), std::string::npos);
  EXPECT_EQ(system(("test -z \"$(ls -A '" + dir + "')\"").c_str()), 0) << "temporary file removed";
}

TEST_F(JvmSnapshots, NullArgumentsFailCleanly) {
  CapturedOutput err(stderr);
  EXPECT_FALSE(generateSnapshot(env(), nullptr, nullptr, nullptr, nullptr, nullptr, JNI_TRUE));
  jstring name = env()->NewStringUTF("x.snp");
  EXPECT_FALSE(generateSnapshot(env(), name, nullptr, nullptr, nullptr, nullptr, JNI_FALSE));
  jobject notAReporter = newObject("java/io/ByteArrayOutputStream");
  EXPECT_FALSE(generateSnapshot(env(), name, nullptr, nullptr, notAReporter, nullptr, JNI_FALSE));
  std::string text = err.take();
  EXPECT_NE(text.find("no file name"), std::string::npos) << text;
  EXPECT_NE(text.find("no reporter"), std::string::npos) << text;
  EXPECT_FALSE(env()->ExceptionCheck());
}

TEST_F(JvmSnapshots, UnwritableLocalFileReportsBothMessages) {
  CapturedOutput err(stderr);
  EXPECT_FALSE(snapshot("/nonexistent-dir/x.snp", nullptr, nullptr, nullptr, nullptr, true));
  EXPECT_EQ(err.take(),
            "S_CC_C : Cannot open file /nonexistent-dir/x.snp for writing: No such file or "
            "directory\nQuillmetry Error: An error occured while generating snapshot.\n");
}

TEST_F(JvmSnapshots, FullDiskIsAFailureAndLeavesNoFile) {
  if (!fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::string dir = scratchDir("full");
  // A snapshot into /dev/full fails as a whole, whatever its size.
  CapturedOutput err(stderr);
  EXPECT_FALSE(snapshot("/dev/full", nullptr, nullptr, nullptr, nullptr, true));
  std::string text = err.take();
  EXPECT_NE(text.find("Quillmetry Error: An error occured while generating snapshot.\n"),
            std::string::npos)
      << text;
  EXPECT_TRUE(fileExists("/dev/full"));
}

class JvmRunControl : public JvmTest {
 protected:
  void SetUp() override {
    JvmTest::SetUp();
    cciTestReset();
    ASSERT_EQ(startAgent(env(), JNI_FALSE, JNI_FALSE), 0);
  }
  jstring run(const char* name, std::vector<std::string> args = {}) {
    jclass stringClass = env()->FindClass("java/lang/String");
    jobjectArray array =
        env()->NewObjectArray(static_cast<jsize>(args.size()), stringClass, nullptr);
    for (size_t i = 0; i < args.size(); i++) {
      jstring arg = env()->NewStringUTF(args[i].c_str());
      env()->SetObjectArrayElement(array, static_cast<jsize>(i), arg);
      env()->DeleteLocalRef(arg);
    }
    jstring className = name != nullptr ? env()->NewStringUTF(name) : nullptr;
    return runProgramWithClass(env(), className, array);
  }
  std::string recordingMainState() {
    jclass cls = env()->FindClass("ccover/testing/RecordingMain");
    jfieldID runs = env()->GetStaticFieldID(cls, "runs", "I");
    jmethodID args = env()->GetStaticMethodID(cls, "lastArgsText", "()Ljava/lang/String;");
    auto text = static_cast<jstring>(env()->CallStaticObjectMethod(cls, args));
    env()->ExceptionCheck();
    return std::to_string(env()->GetStaticIntField(cls, runs)) + " " + javaString(env(), text);
  }
};

TEST_F(JvmRunControl, RunsTheMainClassAndNamesTheExitSnapshotAfterIt) {
  jstring result = run("ccover/testing/RecordingMain", {"a", "b c"});
  EXPECT_EQ(result, nullptr);
  EXPECT_FALSE(env()->ExceptionCheck());
  EXPECT_EQ(recordingMainState(), "1 a b c");
  EXPECT_STREQ(mainClassName(), "ccover/testing/RecordingMain");
}

TEST_F(JvmRunControl, UnknownClassOrMissingMainIsReportedAndCleared) {
  CapturedOutput err(stderr);
  jstring missing = run("app/Nope");
  EXPECT_FALSE(env()->ExceptionCheck());
  jstring noMain = run("ccover/testing/NoMain");
  EXPECT_FALSE(env()->ExceptionCheck());
  jstring nullName = run(nullptr);
  EXPECT_EQ(err.take(),
            "Cannot find class app/Nope\n"
            "Cannot find main method in class name ccover/testing/NoMain\n"
            "Cannot find class (null)\n");
  EXPECT_EQ(javaString(env(), missing), "Cannot find class app/Nope");
  EXPECT_EQ(javaString(env(), noMain),
            "Cannot find main method in class name ccover/testing/NoMain");
  EXPECT_EQ(javaString(env(), nullName), "Cannot find class (null)");
  EXPECT_STREQ(mainClassName(), "ccover/testing/NoMain") << "replaced even when it can't run";
}

TEST_F(JvmRunControl, ExceptionFromMainReachesTheCaller) {
  EXPECT_EQ(run("ccover/testing/ThrowingMain"), nullptr);
  ASSERT_TRUE(env()->ExceptionCheck());
  env()->ExceptionClear();
}

TEST_F(JvmRunControl, MachineIdIsTheHostName) {
  jstring id = machineID(env());
  std::string name = javaString(env(), id);
  char host[1024] = {};
  gethostname(host, sizeof(host));
  EXPECT_EQ(name, host);
}

TEST_F(JvmRunControl, PassThroughsReturnWhatTheRuntimeSays) {
  cciTestSetPassThroughResults(11, 12, 13, 14, 15);
  jclass cls = env()->FindClass("quorvatix/audit/CoverMain");
  const char* names[] = {"pauseAllThreads", "resumeAllThreads", "registerAuditThread",
                         "willProcessAuditRequest", "didProcessAuditRequest"};
  cciTestClearCallLog();
  for (int i = 0; i < 5; i++) {
    jmethodID m = env()->GetStaticMethodID(cls, names[i], "()I");
    EXPECT_EQ(env()->CallStaticIntMethod(cls, m), 11 + i) << names[i];
    EXPECT_FALSE(env()->ExceptionCheck());
  }
  EXPECT_STREQ(cciTestCallLog(),
               "cciSuspendAllThreads cciResumeAllThreads cciRegisterAuditThread "
               "cciWillProcessAuditRequest cciDidProcessAuditRequest");
  jmethodID filter = env()->GetStaticMethodID(cls, "setGlobalFilter", "(I)V");
  jmethodID filter0 = env()->GetStaticMethodID(cls, "setGlobalFilter0", "(I)V");
  cciTestClearCallLog();
  env()->CallStaticVoidMethod(cls, filter, 5);
  EXPECT_FALSE(env()->ExceptionCheck());
  env()->CallStaticVoidMethod(cls, filter0, -1);
  EXPECT_FALSE(env()->ExceptionCheck());
  EXPECT_STREQ(cciTestCallLog(), "");
}

}  // namespace

// Paths that end the process, or never return.
namespace {

JNIEnv* startChild(bool ignoreShutdown, bool snapshotAtExit, const char* userDir) {
  JvmConfig config;
  if (userDir != nullptr) config.options.push_back(std::string("-Duser.dir=") + userDir);
  if (!createJvm(config)) {
    fprintf(stderr, "no JVM: %s\n", jvmError().c_str());
    exit(3);
  }
  JNIEnv* env = jvmEnv();
  cciTestReset();
  startAgent(env, ignoreShutdown ? JNI_TRUE : JNI_FALSE, snapshotAtExit ? JNI_TRUE : JNI_FALSE);
  CciTestMethodSpec methodShape{11, "run", "()V", 0, 4, nullptr};
  cciTestAddClass(10, "app/Main", "Main.java", 1, 1, &methodShape, 1);
  return env;
}

const char* childDir() { return getenv("CCOVER_TEST_DIR"); }

}  // namespace

CCOVER_CHILD_SCENARIO(exitNowWithSnapshot) {
  JNIEnv* env = startChild(false, true, childDir());
  classNameHandler(env, env->NewStringUTF("app/tools/Main"));
  classNameHandler(env, env->NewStringUTF("app/Other"));
  exitNow(env);
}
CCOVER_CHILD_SCENARIO(exitNowWithoutSnapshot) { exitNow(startChild(false, false, childDir())); }
CCOVER_CHILD_SCENARIO(shutdownThenExitNow) {
  JNIEnv* env = startChild(false, true, childDir());
  shutdownHandler(env);
  fprintf(stderr, "returned\n");
  exitNow(env);
}
CCOVER_CHILD_SCENARIO(shutdownIgnored) {
  JNIEnv* env = startChild(true, true, childDir());
  shutdownHandler(env);
  fprintf(stderr, "returned\n");
}
CCOVER_CHILD_SCENARIO(exitWithoutUserDir) {
  std::error_code error;
  std::filesystem::current_path(childDir(), error);
  if (error) exit(4);
  JNIEnv* env = startChild(false, true, nullptr);
  jclass system = env->FindClass("java/lang/System");
  jmethodID clear =
      env->GetStaticMethodID(system, "clearProperty", "(Ljava/lang/String;)Ljava/lang/String;");
  env->CallStaticObjectMethod(system, clear, env->NewStringUTF("user.dir"));
  if (env->ExceptionCheck()) exit(5);
  exitNow(env);
}
CCOVER_CHILD_SCENARIO(exitSnapshotFails) { exitNow(startChild(false, true, "/nonexistent-dir")); }

namespace {

std::string exitSnapshotIn(const std::string& dir, const std::string& out, const char* base) {
  std::string prefix = "Generating snapshot in " + dir + "/" + base + "_";
  EXPECT_EQ(out.rfind(prefix, 0), 0u) << out;
  size_t end = out.find("...\n");
  EXPECT_NE(end, std::string::npos) << out;
  if (end == std::string::npos) return "";
  return out.substr(23, end - 23);
}

ChildResult runInDir(const char* scenario, const std::string& dir, int killAfter = 0) {
  ChildOptions options;
  options.extraEnv.push_back("CCOVER_TEST_DIR=" + dir);
  options.killAfterMillis = killAfter;
  return runChild(scenario, options);
}

TEST(JvmExit, ExitNowWritesTheExitSnapshotNamedAfterTheFirstMainClass) {
  std::string dir = scratchDir("exit-now");
  ChildResult r = runInDir("exitNowWithSnapshot", dir);
  EXPECT_EQ(r.exitCode, 0) << describeChild(r);
  EXPECT_EQ(r.err, "");
  std::string path = exitSnapshotIn(dir, r.out, "app_tools_Main");
  EXPECT_EQ(r.out, "Generating snapshot in " + path + "...\n");
  SEReader* reader = SEReaderNew();
  SESnapshotView view;
  EXPECT_TRUE(SEReadSnapshotFile(reader, path.c_str(), &view)) << SEReaderError(reader);
  const SEView* comment = SEViewFind(&view.items[1], "comment");
  ASSERT_NE(comment, nullptr);
  EXPECT_STREQ(SEViewText(comment), "This snapshot was generated when the vm exited");
  SEReaderFree(reader);
}

TEST(JvmExit, ExitNowWithoutSnapshotJustEnds) {
  std::string dir = scratchDir("exit-plain");
  ChildResult r = runInDir("exitNowWithoutSnapshot", dir);
  EXPECT_EQ(r.exitCode, 0) << describeChild(r);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(JvmExit, ShutdownWritesOnceAndExitNowAddsNoSecondSnapshot) {
  std::string dir = scratchDir("shutdown");
  ChildResult r = runInDir("shutdownThenExitNow", dir);
  EXPECT_EQ(r.exitCode, 0) << describeChild(r);
  EXPECT_EQ(r.err, "returned\n");
  std::string path = exitSnapshotIn(dir, r.out, "coverageSnapshot");
  EXPECT_EQ(r.out, "Generating snapshot in " + path + "...\n") << "one snapshot only";
}

TEST(JvmExit, IgnoredShutdownWritesTheSnapshotThenHoldsTheThread) {
  std::string dir = scratchDir("ignored");
  ChildResult r = runInDir("shutdownIgnored", dir, 2000);
  EXPECT_TRUE(r.killed) << describeChild(r);
  EXPECT_EQ(r.err, "Quillmetry Message: VM Shutdown ignored.\n");
  std::string path = exitSnapshotIn(dir, r.out, "coverageSnapshot");
  EXPECT_TRUE(fileExists(path)) << path;
}

TEST(JvmExit, WithoutAWorkingDirectoryTheSnapshotGoesToTheCurrentOne) {
  std::string dir = scratchDir("no-user-dir");
  ChildResult r = runInDir("exitWithoutUserDir", dir);
  EXPECT_EQ(r.exitCode, 0) << describeChild(r);
  ASSERT_EQ(r.out.rfind("Generating snapshot in coverageSnapshot_", 0), 0u) << r.out;
  std::string name = r.out.substr(23, r.out.size() - 23 - 4);
  EXPECT_TRUE(fileExists(dir + "/" + name)) << name;
}

TEST(JvmExit, FailedExitSnapshotIsReportedOnStandardOutput) {
  ChildResult r = runInDir("exitSnapshotFails", "/nonexistent-dir");
  EXPECT_EQ(r.exitCode, 0) << describeChild(r);
  std::string path = exitSnapshotIn("/nonexistent-dir", r.out, "coverageSnapshot");
  EXPECT_NE(r.out.find("...\nFailed to generate a coverage snapshot.\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.err, "S_CC_C : Cannot open file " + path +
                       " for writing: No such file or directory\n"
                       "Quillmetry Error: An error occured while generating snapshot.\n");
}

// The exit snapshot never replaces another run's: names of the coming seconds
// are taken beforehand, so this run must number its own.
TEST(JvmExit, TheExitSnapshotNeverReplacesAnEarlierRunsFile) {
  std::string dir = scratchDir("exit-taken");
  std::vector<std::string> taken;
  time_t now = time(nullptr);
  for (int second = -1; second <= 30; second++) {
    struct tm local;
    time_t t = now + second;
    ASSERT_TRUE(platform::localTime(t, &local));
    char path[kSnapshotNameBufferSize];
    ASSERT_TRUE(formatExitSnapshotPath(path, sizeof(path), dir.c_str(), "app/tools/Main", local));
    std::ofstream(path, std::ios::binary) << "earlier run";
    taken.push_back(path);
  }
  ChildResult r = runInDir("exitNowWithSnapshot", dir);
  EXPECT_EQ(r.exitCode, 0) << describeChild(r);
  EXPECT_EQ(r.err, "");
  std::string path = exitSnapshotIn(dir, r.out, "app_tools_Main");
  ASSERT_GT(path.size(), 6u);
  EXPECT_EQ(path.substr(path.size() - 6), "-2.snp") << path;
  SEReader* reader = SEReaderNew();
  SESnapshotView view;
  EXPECT_TRUE(SEReadSnapshotFile(reader, path.c_str(), &view)) << SEReaderError(reader);
  SEReaderFree(reader);
  for (const std::string& name : taken) EXPECT_EQ(readFile(name), "earlier run") << name;
}

TEST(JvmExit, TwoQuickRunsInARowLeaveTwoSnapshots) {
  std::string dir = scratchDir("exit-twice");
  ChildResult first = runInDir("exitNowWithSnapshot", dir);
  ChildResult second = runInDir("exitNowWithSnapshot", dir);
  EXPECT_EQ(first.exitCode, 0) << describeChild(first);
  EXPECT_EQ(second.exitCode, 0) << describeChild(second);
  std::string firstPath = exitSnapshotIn(dir, first.out, "app_tools_Main");
  std::string secondPath = exitSnapshotIn(dir, second.out, "app_tools_Main");
  EXPECT_NE(firstPath, secondPath);
  SEReader* reader = SEReaderNew();
  SESnapshotView view;
  EXPECT_TRUE(SEReadSnapshotFile(reader, firstPath.c_str(), &view)) << SEReaderError(reader);
  EXPECT_TRUE(SEReadSnapshotFile(reader, secondPath.c_str(), &view)) << SEReaderError(reader);
  SEReaderFree(reader);
}

// Java hands the directory over as modified UTF-8, the emoji as two 3-byte
// surrogates; the file must land in the folder of that name on disk.
TEST(JvmExit, ExitSnapshotLandsInAFolderNamedBeyondTheBasicPlane) {
  std::string parent = scratchDir("exit-emoji");
  std::string dir = parent + "/emoji-\xF0\x9F\x98\x80";
  ASSERT_TRUE(std::filesystem::create_directory(dir));
  ChildResult r = runInDir("exitNowWithSnapshot", dir);
  EXPECT_EQ(r.exitCode, 0) << describeChild(r);
  EXPECT_EQ(r.err, "");
  std::string printedDir = parent + "/emoji-\xED\xA0\xBD\xED\xB8\x80";
  std::string printed = exitSnapshotIn(printedDir, r.out, "app_tools_Main");
  ASSERT_FALSE(printed.empty());
  std::string onDisk = dir + printed.substr(printedDir.size());
  SEReader* reader = SEReaderNew();
  SESnapshotView view;
  EXPECT_TRUE(SEReadSnapshotFile(reader, onDisk.c_str(), &view)) << SEReaderError(reader);
  SEReaderFree(reader);
}

TEST(JvmExit, AnOverLongWorkingDirectoryIsNamedAsTheReason) {
  std::string dir = "/nonexistent/" + std::string(1100, 'd');
  ChildResult r = runInDir("exitNowWithSnapshot", dir);
  EXPECT_EQ(r.exitCode, 0) << describeChild(r);
  EXPECT_EQ(r.out, "Failed to generate a coverage snapshot.\n");
  EXPECT_EQ(r.err,
            "Quillmetry Error: The exit snapshot's path is longer than 1023 bytes: working "
            "directory of 1113 bytes, main class name of 14 bytes.\n");
}

}  // namespace
