// One embedded JVM per test process, created on first use through a dlopened
// libjvm (JNI 1.8) with -Xcheck:jni, -Dccover.noLoad=true (the test binary
// binds CoverMain's natives itself, with registerCoverMainNatives) and a
// class path of ccover.jar and the test classes. Everything the JVM prints
// through its vfprintf hook (JNI warnings among it) is captured.
//
// JVM test suites are named with the prefix "Jvm" so that targets without a
// JVM (sanitizers, Windows) can leave them out with --gtest_filter=-Jvm*. They
// derive their fixture from JvmTest, which fails a test whose JVM output holds
// a JNI warning ("WARNING" or "FATAL ERROR").
//
// Thread-safety: every function may be called from any thread; jvmEnv attaches
// the calling thread when needed (ScopedJvmThread detaches it again).
#ifndef CCOVER_TESTS_HARNESS_JVM_H_
#define CCOVER_TESTS_HARNESS_JVM_H_

#include <jni.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"

struct JvmConfig {
  // Extra -D/-X options, after the default ones.
  std::vector<std::string> options;
  // Class path entries put before the default entries (a variant of a class
  // placed here replaces the one of ccover.jar).
  std::vector<std::string> classPathFront;
  // false: the class path is classPathFront only.
  bool defaultClassPath = true;
};

// Creates the process's JVM with this configuration. False when it already
// exists or can't be created (the reason is in jvmError()).
bool createJvm(const JvmConfig& config);
// The calling thread's environment, creating the JVM with the default
// configuration first if needed; null when there is no JVM (see jvmError()).
JNIEnv* jvmEnv();
JavaVM* jvm();
std::string jvmError();
// True once this process has tried to create its JVM.
bool jvmAttempted();

// Everything the JVM printed since the last call.
std::string takeJvmOutput();
// True when the text holds a JNI warning or fatal error.
bool hasJniWarning(const std::string& jvmOutput);

// Paths of the jars built for the tests.
std::string ccoverJarPath();
std::string testJarPath();
// A jar with variants of Java classes (tests/java/variants/<name>).
std::string variantJarPath(const char* name);

// RegisterNatives on quorvatix/audit/CoverMain; false (exception cleared)
// when the class or a method is missing.
bool registerNatives(JNIEnv* env, const JNINativeMethod* methods, int count);
// Binds every native of CoverMain to the agent compiled into the test binary.
bool registerCoverMainNatives(JNIEnv* env);

// Java calls that check for an exception right away, as -Xcheck:jni demands
// of every call that can throw: a pending exception is reported as a test
// failure (with its toString) and cleared, and the call yields 0/null.
jobject checkedCallObject(JNIEnv* env, jobject object, jmethodID method, ...);
jint checkedCallInt(JNIEnv* env, jobject object, jmethodID method, ...);
jboolean checkedCallBoolean(JNIEnv* env, jobject object, jmethodID method, ...);
void checkedCallVoid(JNIEnv* env, jobject object, jmethodID method, ...);
jobject checkedCallStaticObject(JNIEnv* env, jclass cls, jmethodID method, ...);
jint checkedCallStaticInt(JNIEnv* env, jclass cls, jmethodID method, ...);
void checkedCallStaticVoid(JNIEnv* env, jclass cls, jmethodID method, ...);
jobject checkedNewObject(JNIEnv* env, jclass cls, jmethodID constructor, ...);
// True (and a test failure, the exception cleared) when an exception is pending.
bool failOnJavaException(JNIEnv* env, const char* what);
// The UTF-8 text of a Java string; "(null)" for null.
std::string javaString(JNIEnv* env, jstring text);
// toString() of any object; "(null)" for null.
std::string javaToString(JNIEnv* env, jobject object);

// Attaches the current thread for its lifetime and detaches it at the end.
class ScopedJvmThread {
 public:
  ScopedJvmThread();
  ~ScopedJvmThread();
  ScopedJvmThread(const ScopedJvmThread&) = delete;
  ScopedJvmThread& operator=(const ScopedJvmThread&) = delete;
  JNIEnv* env() const { return env_; }

 private:
  JNIEnv* env_ = nullptr;
  bool attachedHere_ = false;
};

// Fixture of the JVM tests: gives env(), binds CoverMain's natives once, and
// fails the test when the JVM printed a JNI warning while it ran. A pending
// Java exception at the end of a test fails it too (and is cleared).
class JvmTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  JNIEnv* env() const { return env_; }

 private:
  JNIEnv* env_ = nullptr;
};

// A gtest listener for main: reports JNI warnings printed outside any JvmTest
// (the run then fails through jvmWarningsOutsideFixtures()).
::testing::TestEventListener* newJvmOutputListener();
int jvmWarningsOutsideFixtures();

// Implemented once per OS: the address of a symbol of a shared library.
namespace jvm_internal {
void* loadSymbol(const char* library, const char* symbol, std::string* error);
}

#endif  // CCOVER_TESTS_HARNESS_JVM_H_
