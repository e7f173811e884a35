// Start-up: the order of the runtime calls, the cached Java bindings, the
// handler table registered last, and every way start-up ends the process.
#include <gtest/gtest.h>

#include <string>

#include "agent/handlers.h"
#include "agent/run_control.h"
#include "agent/start.h"
#include "answers/answer_table.h"
#include "model/object_table.h"
#include "runtime/testing/cci_testing.h"
#include "snapshot/generation.h"
#include "support/vector.h"
#include "tests/harness/child.h"
#include "tests/harness/jvm.h"

namespace {

class JvmStart : public JvmTest {};

TEST_F(JvmStart, CallsTheRuntimeInOrderAndRegistersHandlersLast) {
  cciTestReset();
  cciTestSetHandlersResult(17);
  EXPECT_EQ(startAgent(env(), JNI_TRUE, JNI_FALSE), 17);
  EXPECT_STREQ(cciTestCallLog(),
               "cciIsInitialized cciBuildNumber cciGetCObjectsByID cciGetCObjectsByIDLock "
               "cciGetUnregisteredClasses cciGetUnregisteredClassesLock qmiMonitorAllocate "
               "cciSetHandlers");
  EXPECT_EQ(agentFlags.ignoreShutdown, 1);
  EXPECT_EQ(agentFlags.snapshotAtExit, 0);
  EXPECT_EQ(objectTables.updatedClassLock, cciTestMonitorNamed("updatedClassLock"));
  EXPECT_EQ(objectTables.idToCObjects, cciGetCObjectsByID());
  EXPECT_EQ(objectTables.unregisteredClasses, cciGetUnregisteredClasses());
  ASSERT_NE(objectTables.updatedClasses, nullptr);
  EXPECT_EQ(objectTables.updatedClasses->capacity, 100);
  EXPECT_NE(answerClasses.vectorElementAt, nullptr);
  EXPECT_NE(answerClasses.vectorCount, nullptr);
  EXPECT_NE(systemProperties.getProperty, nullptr);

  void* expected[kCciHandlerCount] = {
      reinterpret_cast<void*>(&emptyHandler),     reinterpret_cast<void*>(&lineHandler),
      reinterpret_cast<void*>(&entryLineHandler), reinterpret_cast<void*>(&entryHandler),
      reinterpret_cast<void*>(&classNameHandler), reinterpret_cast<void*>(&emptyHandler),
      reinterpret_cast<void*>(&threadEndHandler), reinterpret_cast<void*>(&shutdownHandler)};
  for (int slot = 0; slot < kCciHandlerCount; slot++) {
    EXPECT_EQ(cciTestHandler(slot), expected[slot]) << "slot " << slot;
  }
  cciTestSetHandlersResult(0);
}

TEST_F(JvmStart, TheJavaEntryPointStartsTheAgent) {
  cciTestReset();
  jclass coverMain = env()->FindClass("quorvatix/audit/CoverMain");
  ASSERT_NE(coverMain, nullptr);
  jmethodID start = env()->GetStaticMethodID(coverMain, "start", "(Ljava/lang/Object;ZZ)I");
  ASSERT_NE(start, nullptr);
  jint result = env()->CallStaticIntMethod(coverMain, start, nullptr, JNI_FALSE, JNI_TRUE);
  ASSERT_FALSE(env()->ExceptionCheck());
  EXPECT_EQ(result, 0);
  EXPECT_EQ(agentFlags.snapshotAtExit, 1);
  EXPECT_EQ(agentFlags.ignoreShutdown, 0);
  EXPECT_NE(cciTestHandlerTable(), nullptr);
}

}  // namespace

CCOVER_CHILD_SCENARIO(startRuntimeNotInitialized) {
  cciTestReset();
  cciTestSetInitialized(0);
  static int standIn;
  startAgent(reinterpret_cast<JNIEnv*>(&standIn), JNI_FALSE, JNI_FALSE);
}

CCOVER_CHILD_SCENARIO(startBuildMismatch) {
  cciTestReset();
  cciTestSetBuildNumber(3);
  JNIEnv* env = jvmEnv();
  if (env == nullptr) return;
  jint result = startAgent(env, JNI_FALSE, JNI_FALSE);
  fprintf(stderr, "started %d, handlers %s\n", static_cast<int>(result),
          cciTestHandlerTable() != nullptr ? "set" : "unset");
}

CCOVER_CHILD_SCENARIO(startWithoutHashtable) {
  JvmConfig config;
  config.defaultClassPath = false;
  config.classPathFront.push_back(variantJarPath("quorvatix_only"));
  if (!createJvm(config)) {
    fprintf(stderr, "no JVM: %s\n", jvmError().c_str());
    return;
  }
  cciTestReset();
  startAgent(jvmEnv(), JNI_FALSE, JNI_FALSE);
}

CCOVER_CHILD_SCENARIO(startVectorWithoutCount) {
  JvmConfig config;
  config.classPathFront.push_back(variantJarPath("vector_without_count"));
  if (!createJvm(config)) {
    fprintf(stderr, "no JVM: %s\n", jvmError().c_str());
    return;
  }
  cciTestReset();
  startAgent(jvmEnv(), JNI_FALSE, JNI_FALSE);
}

namespace {

TEST(StartFailure, RuntimeNotInitializedPrintsOnlyItsFourMessages) {
  ChildResult r = runChild("startRuntimeNotInitialized");
  EXPECT_EQ(r.exitCode, 1) << describeChild(r);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "\nThe cci module found by the audit system was not initialized.\n"
            "This error usually happens because:\n"
            "- the virtual machine was started without the -Xruncci (or -Xrunqmi) option\nor\n"
            "- libraries from different Quillmetry versions are used. If you have different\n"
            "  Quillmetry versions installed on your machine make sure your PATH\n"
            "  is pointing to only one Quillmetry install and that you have not copied\n"
            "  Quillmetry libraries into any other directories included in your PATH\n");
}

TEST(JvmStartFailure, BuildMismatchWarnsAndCarriesOn) {
  ChildResult r = runChild("startBuildMismatch");
  EXPECT_EQ(r.exitCode, 0) << describeChild(r);
  EXPECT_EQ(r.out,
            "Quillmetry Code Coverage WARNING: cci.dll library version 3 does not match ccover.dll "
            "version 2.\nMake sure your Path does not point to an old version of cci.dll\n");
  EXPECT_EQ(r.err, "started 0, handlers set\n");
}

TEST(JvmStartFailure, MissingHashtableClassEndsStartUp) {
  ChildResult r = runChild("startWithoutHashtable");
  EXPECT_EQ(r.exitCode, 1) << describeChild(r);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "CCJNI: Cannot find class netscape/util/Hashtable\nExiting...\n");
}

TEST(JvmStartFailure, VectorWithoutCountEndsStartUp) {
  ChildResult r = runChild("startVectorWithoutCount");
  EXPECT_EQ(r.exitCode, 1) << describeChild(r);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "CCJNI: Cannot find method count()I\nExiting...\n");
}

}  // namespace
