// Tests of the embedded JVM harness and of the Java side as the agent and the
// tests use it: CoverMain's natives, the netscape collections on instances no
// constructor ran on, the reporters, output capture and class path variants.
#include <stdio.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/testing/cci_testing.h"
#include "tests/harness/child.h"
#include "tests/harness/jvm.h"

namespace {

class JvmHarness : public JvmTest {};

TEST_F(JvmHarness, CoverMainDeclaresEveryNative) {
  jclass coverMain = env()->FindClass("quorvatix/audit/CoverMain");
  ASSERT_NE(coverMain, nullptr);
  const char* natives[][2] = {
      {"start", "(Ljava/lang/Object;ZZ)I"},
      {"exitNow", "()V"},
      {"pauseAllThreads", "()I"},
      {"resumeAllThreads", "()I"},
      {"registerAuditThread", "()I"},
      {"willProcessAuditRequest", "()I"},
      {"didProcessAuditRequest", "()I"},
      {"setGlobalFilter", "(I)V"},
      {"setGlobalFilter0", "(I)V"},
      {"runProgramWithClass", "(Ljava/lang/String;[Ljava/lang/String;)Ljava/lang/String;"},
      {"machineID", "()Ljava/lang/String;"},
      {"markClasses", "()V"},
      {"detach", "()V"},
      {"hasNewClasses", "()Z"},
      {"fillClassInfoAnswer", "(Lnetscape/util/Hashtable;)V"},
      {"fillClassCoverageAnswer", "(Lnetscape/util/Hashtable;[I)V"},
      {"fillAllClassCoverageAnswer", "(Lnetscape/util/Hashtable;)V"},
      {"fillMethodInfoAnswer", "(Lnetscape/util/Hashtable;[I)V"},
      {"fillMethodCoverageAnswer", "(Lnetscape/util/Hashtable;[I)V"},
      {"generateSnapshot",
       "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/Object;"
       "Ljava/io/OutputStream;Z)Z"},
  };
  for (const auto& native : natives) {
    EXPECT_NE(env()->GetStaticMethodID(coverMain, native[0], native[1]), nullptr)
        << native[0] << native[1];
    env()->ExceptionClear();
  }
}

TEST_F(JvmHarness, NativesAreBoundToTheAgentInThisBinary) {
  cciTestReset();
  cciTestSetPassThroughResults(0, 0, 0, 42, 0);
  jclass coverMain = env()->FindClass("quorvatix/audit/CoverMain");
  jmethodID will = env()->GetStaticMethodID(coverMain, "willProcessAuditRequest", "()I");
  ASSERT_NE(will, nullptr);
  EXPECT_EQ(checkedCallStaticInt(env(), coverMain, will), 42);
  ASSERT_FALSE(env()->ExceptionCheck());
  EXPECT_STREQ(cciTestCallLog(), "cciWillProcessAuditRequest");
  cciTestReset();
}

TEST_F(JvmHarness, HashtableWorksOnAllocObjectInstance) {
  jclass hashtable = env()->FindClass("netscape/util/Hashtable");
  ASSERT_NE(hashtable, nullptr);
  jobject table = env()->AllocObject(hashtable);
  ASSERT_NE(table, nullptr);
  jmethodID put = env()->GetMethodID(hashtable, "put",
                                     "(Ljava/lang/Object;Ljava/lang/Object;)Ljava/lang/Object;");
  jmethodID get = env()->GetMethodID(hashtable, "get", "(Ljava/lang/Object;)Ljava/lang/Object;");
  jmethodID count = env()->GetMethodID(hashtable, "count", "()I");
  jmethodID keys = env()->GetMethodID(hashtable, "keys", "()Ljava/util/Enumeration;");
  jmethodID putLog = env()->GetMethodID(hashtable, "putLog", "()Ljava/util/List;");
  ASSERT_TRUE(put && get && count && keys && putLog);

  jstring b = env()->NewStringUTF("b");
  jstring a = env()->NewStringUTF("a");
  jstring one = env()->NewStringUTF("1");
  jstring two = env()->NewStringUTF("2");
  EXPECT_EQ(checkedCallObject(env(), table, put, b, one), nullptr);
  EXPECT_EQ(checkedCallObject(env(), table, put, a, one), nullptr);
  EXPECT_EQ(javaToString(env(), checkedCallObject(env(), table, put, b, two)), "1");
  EXPECT_EQ(checkedCallInt(env(), table, count), 2);
  EXPECT_EQ(javaToString(env(), checkedCallObject(env(), table, get, b)), "2");
  EXPECT_EQ(javaToString(env(), checkedCallObject(env(), table, putLog)), "[b, a, b]");

  jobject e = checkedCallObject(env(), table, keys);
  jclass enumeration = env()->FindClass("java/util/Enumeration");
  jmethodID more = env()->GetMethodID(enumeration, "hasMoreElements", "()Z");
  jmethodID next = env()->GetMethodID(enumeration, "nextElement", "()Ljava/lang/Object;");
  std::vector<std::string> order;
  while (checkedCallBoolean(env(), e, more)) {
    order.push_back(javaToString(env(), checkedCallObject(env(), e, next)));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"b", "a"}));
  ASSERT_FALSE(env()->ExceptionCheck());
}

TEST_F(JvmHarness, VectorWorksOnAllocObjectInstance) {
  jclass vectorClass = env()->FindClass("netscape/util/Vector");
  ASSERT_NE(vectorClass, nullptr);
  jobject vector = env()->AllocObject(vectorClass);
  jmethodID add = env()->GetMethodID(vectorClass, "addElement", "(Ljava/lang/Object;)V");
  jmethodID at = env()->GetMethodID(vectorClass, "elementAt", "(I)Ljava/lang/Object;");
  jmethodID count = env()->GetMethodID(vectorClass, "count", "()I");
  ASSERT_TRUE(add && at && count);
  EXPECT_EQ(checkedCallInt(env(), vector, count), 0);
  checkedCallVoid(env(), vector, add, env()->NewStringUTF("x"));
  checkedCallVoid(env(), vector, add, env()->NewStringUTF("y"));
  EXPECT_EQ(checkedCallInt(env(), vector, count), 2);
  EXPECT_EQ(javaToString(env(), checkedCallObject(env(), vector, at, 1)), "y");
  EXPECT_EQ(javaToString(env(), checkedCallObject(env(), vector, at, 0)), "x");
  ASSERT_FALSE(env()->ExceptionCheck());
}

// Calls writeRemotely and closeRemotely on a reporter of the given class and
// returns the stream's bytes.
std::string reportThrough(JNIEnv* env, const char* className, jobject* reporterOut) {
  jclass reporterClass = env->FindClass(className);
  EXPECT_NE(reporterClass, nullptr) << className;
  if (reporterClass == nullptr) return "";
  jobject reporter =
      checkedNewObject(env, reporterClass, env->GetMethodID(reporterClass, "<init>", "()V"));
  jclass streamClass = env->FindClass("java/io/ByteArrayOutputStream");
  jobject stream =
      checkedNewObject(env, streamClass, env->GetMethodID(streamClass, "<init>", "()V"));
  jmethodID open = env->GetMethodID(reporterClass, "openRemotely",
                                    "(Ljava/lang/String;Ljava/io/OutputStream;)V");
  jmethodID write =
      env->GetMethodID(reporterClass, "writeRemotely", "([BIILjava/io/OutputStream;)V");
  jmethodID close = env->GetMethodID(reporterClass, "closeRemotely", "(Ljava/io/OutputStream;)V");
  jbyteArray chunk = env->NewByteArray(5);
  const jbyte bytes[5] = {1, 2, 3, 4, 5};
  env->SetByteArrayRegion(chunk, 0, 5, bytes);
  checkedCallVoid(env, reporter, open, env->NewStringUTF("snap.snp"), stream);
  checkedCallVoid(env, reporter, write, chunk, 3, 50, stream);
  checkedCallVoid(env, reporter, write, chunk, 5, 100, stream);
  checkedCallVoid(env, reporter, close, stream);
  EXPECT_FALSE(env->ExceptionCheck());
  jbyteArray written = static_cast<jbyteArray>(
      checkedCallObject(env, stream, env->GetMethodID(streamClass, "toByteArray", "()[B")));
  if (written == nullptr) return "";
  jsize length = env->GetArrayLength(written);
  std::string result(static_cast<size_t>(length), '\0');
  env->GetByteArrayRegion(written, 0, length, reinterpret_cast<jbyte*>(&result[0]));
  *reporterOut = reporter;
  return result;
}

TEST_F(JvmHarness, CoverReporterWritesChunksToTheStream) {
  jobject reporter = nullptr;
  EXPECT_EQ(reportThrough(env(), "quorvatix/audit/CoverReporter", &reporter),
            std::string("\1\2\3\1\2\3\4\5", 8));
}

TEST_F(JvmHarness, RecordingReporterRecordsEveryCall) {
  jobject reporter = nullptr;
  EXPECT_EQ(reportThrough(env(), "ccover/testing/RecordingReporter", &reporter),
            std::string("\1\2\3\1\2\3\4\5", 8));
  jclass reporterClass = env()->GetObjectClass(reporter);
  jobject text = checkedCallObject(
      env(), reporter, env()->GetMethodID(reporterClass, "callText", "()Ljava/lang/String;"));
  EXPECT_EQ(javaString(env(), static_cast<jstring>(text)),
            "open snap.snp\nwrite 3 50 5\nwrite 5 100 5\nclose");
}

TEST(JvmHarnessOutput, CapturesJniWarnings) {
  JNIEnv* env = jvmEnv();
  ASSERT_NE(env, nullptr) << jvmError();
  takeJvmOutput();
  // A JNI call right after a Java call, without checking for an exception:
  // -Xcheck:jni warns.
  jclass system = env->FindClass("java/lang/System");
  jmethodID nanoTime = env->GetStaticMethodID(system, "nanoTime", "()J");
  env->CallStaticLongMethod(system, nanoTime);
  env->FindClass("java/lang/String");
  env->ExceptionCheck();
  std::string output = takeJvmOutput();
  EXPECT_TRUE(hasJniWarning(output)) << output;
  EXPECT_NE(output.find("without checking exceptions"), std::string::npos) << output;
  EXPECT_EQ(takeJvmOutput(), "");
}

TEST(JvmHarnessOutput, WarningDetection) {
  EXPECT_TRUE(hasJniWarning("WARNING in native method: JNI call made with exception pending"));
  EXPECT_TRUE(hasJniWarning("FATAL ERROR in native method: Bad global or local ref"));
  EXPECT_FALSE(hasJniWarning("OpenJDK Server VM warning: something else"));
  EXPECT_FALSE(hasJniWarning(""));
}

CCOVER_CHILD_SCENARIO(JvmVectorVariant) {
  JvmConfig config;
  config.classPathFront = {variantJarPath("vector_without_count")};
  if (!createJvm(config)) {
    printf("no JVM: %s\n", jvmError().c_str());
    return;
  }
  JNIEnv* env = jvmEnv();
  jclass vectorClass = env->FindClass("netscape/util/Vector");
  printf("Vector %s\n", vectorClass != nullptr ? "found" : "missing");
  if (vectorClass == nullptr) return;
  jmethodID count = env->GetMethodID(vectorClass, "count", "()I");
  printf("count %s\n", count != nullptr ? "found" : "missing");
  env->ExceptionClear();
  jmethodID add = env->GetMethodID(vectorClass, "addElement", "(Ljava/lang/Object;)V");
  printf("addElement %s\n", add != nullptr ? "found" : "missing");
  env->ExceptionClear();
  printf("Hashtable %s\n", env->FindClass("netscape/util/Hashtable") ? "found" : "missing");
  env->ExceptionClear();
}

TEST(JvmHarnessChild, VariantJarReplacesAClass) {
  ChildResult r = runChild("JvmVectorVariant");
  ASSERT_EQ(r.exitCode, 0) << describeChild(r);
  EXPECT_EQ(r.out, "Vector found\ncount missing\naddElement found\nHashtable found\n");
}

CCOVER_CHILD_SCENARIO(JvmQuorvatixOnly) {
  JvmConfig config;
  config.defaultClassPath = false;
  config.classPathFront = {variantJarPath("quorvatix_only")};
  if (!createJvm(config)) {
    printf("no JVM: %s\n", jvmError().c_str());
    return;
  }
  JNIEnv* env = jvmEnv();
  printf("CoverMain %s\n", env->FindClass("quorvatix/audit/CoverMain") ? "found" : "missing");
  env->ExceptionClear();
  printf("Hashtable %s\n", env->FindClass("netscape/util/Hashtable") ? "found" : "missing");
  env->ExceptionClear();
  printf("natives %s\n", registerCoverMainNatives(env) ? "bound" : "unbound");
}

TEST(JvmHarnessChild, QuorvatixOnlyClassPathLacksNetscapeClasses) {
  ChildResult r = runChild("JvmQuorvatixOnly");
  ASSERT_EQ(r.exitCode, 0) << describeChild(r);
  EXPECT_EQ(r.out, "CoverMain found\nHashtable missing\nnatives bound\n");
}

}  // namespace
