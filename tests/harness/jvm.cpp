#include "tests/harness/jvm.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <mutex>

#include "agent/java_api.h"

namespace {

using CreateJavaVmFn = jint(JNICALL*)(JavaVM**, void**, void*);

struct JvmState {
  std::mutex mutex;
  JavaVM* vm = nullptr;
  bool attempted = false;
  std::string error;
  std::mutex outputMutex;
  std::string output;
};

// Never destroyed: JVM threads may print while the process ends.
JvmState& jvmState() {
  static JvmState* state = new JvmState();
  return *state;
}

std::atomic<int> warningsOutsideFixtures{0};

jint JNICALL captureOutput(FILE*, const char* format, va_list args) {
  char small[1024];
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(small, sizeof(small), format, copy);
  va_end(copy);
  if (n < 0) return n;
  std::string text;
  if (static_cast<size_t>(n) < sizeof(small)) {
    text.assign(small, static_cast<size_t>(n));
  } else {
    text.resize(static_cast<size_t>(n) + 1);
    vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(n));
  }
  JvmState& s = jvmState();
  std::lock_guard<std::mutex> lock(s.outputMutex);
  s.output += text;
  return n;
}

const char* classPathSeparator() {
#if defined(_WIN32)
  return ";";
#else
  return ":";
#endif
}

// REQUIRES: s.mutex held.
bool createLocked(JvmState& s, const JvmConfig& config) {
  if (s.attempted) {
    if (s.vm != nullptr) s.error = "the JVM already exists";
    return false;
  }
  s.attempted = true;
  std::string error;
  auto create = reinterpret_cast<CreateJavaVmFn>(
      jvm_internal::loadSymbol(CCOVER_LIBJVM, "JNI_CreateJavaVM", &error));
  if (create == nullptr) {
    s.error = "cannot load JNI_CreateJavaVM from " CCOVER_LIBJVM ": " + error;
    return false;
  }
  std::vector<std::string> classPath = config.classPathFront;
  if (config.defaultClassPath) {
    classPath.push_back(ccoverJarPath());
    classPath.push_back(testJarPath());
  }
  std::string joined;
  for (const std::string& entry : classPath) {
    if (!joined.empty()) joined += classPathSeparator();
    joined += entry;
  }
  std::vector<std::string> texts = {
      "-Xcheck:jni",
      "-Dccover.noLoad=true",
      "-Djava.class.path=" + joined,
      "-XX:+UseSerialGC",
      "-Xmx256m",
      "-XX:TieredStopAtLevel=1",
      "-XX:-UsePerfData",
  };
  texts.insert(texts.end(), config.options.begin(), config.options.end());
  std::vector<JavaVMOption> options;
  options.reserve(texts.size());
  for (std::string& text : texts) options.push_back({&text[0], nullptr});
  options.push_back({const_cast<char*>("vfprintf"), reinterpret_cast<void*>(&captureOutput)});

  JavaVMInitArgs args;
  args.version = JNI_VERSION_1_8;
  args.nOptions = static_cast<jint>(options.size());
  args.options = options.data();
  args.ignoreUnrecognized = JNI_FALSE;
  JNIEnv* env = nullptr;
  jint rc = create(&s.vm, reinterpret_cast<void**>(&env), &args);
  if (rc != JNI_OK) {
    s.vm = nullptr;
    s.error = "JNI_CreateJavaVM failed with " + std::to_string(rc);
    return false;
  }
  return true;
}

}  // namespace

bool createJvm(const JvmConfig& config) {
  JvmState& s = jvmState();
  std::lock_guard<std::mutex> lock(s.mutex);
  return createLocked(s, config);
}

JavaVM* jvm() {
  JvmState& s = jvmState();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.attempted) createLocked(s, JvmConfig());
  return s.vm;
}

std::string jvmError() {
  JvmState& s = jvmState();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.error;
}

bool jvmAttempted() {
  JvmState& s = jvmState();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.attempted;
}

JNIEnv* jvmEnv() {
  JavaVM* vm = jvm();
  if (vm == nullptr) return nullptr;
  JNIEnv* env = nullptr;
  jint rc = vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_8);
  if (rc == JNI_EDETACHED) {
    rc = vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
  }
  return rc == JNI_OK ? env : nullptr;
}

std::string takeJvmOutput() {
  JvmState& s = jvmState();
  std::lock_guard<std::mutex> lock(s.outputMutex);
  std::string taken;
  taken.swap(s.output);
  return taken;
}

bool hasJniWarning(const std::string& jvmOutput) {
  return jvmOutput.find("WARNING") != std::string::npos ||
         jvmOutput.find("FATAL ERROR") != std::string::npos;
}

std::string ccoverJarPath() { return CCOVER_JAR; }
std::string testJarPath() { return CCOVER_TEST_JAR; }
std::string variantJarPath(const char* name) {
  return std::string(CCOVER_VARIANT_DIR) + "/" + name + ".jar";
}

bool registerNatives(JNIEnv* env, const JNINativeMethod* methods, int count) {
  jclass coverMain = env->FindClass("quorvatix/audit/CoverMain");
  if (coverMain == nullptr) {
    env->ExceptionClear();
    return false;
  }
  jint rc = env->RegisterNatives(coverMain, methods, count);
  bool failed = env->ExceptionCheck();
  if (failed) env->ExceptionClear();
  env->DeleteLocalRef(coverMain);
  return rc == JNI_OK && !failed;
}

bool registerCoverMainNatives(JNIEnv* env) {
  return registerNatives(env, kCoverMainNatives, kCoverMainNativeCount);
}

ScopedJvmThread::ScopedJvmThread() {
  JavaVM* vm = jvm();
  if (vm == nullptr) return;
  if (vm->GetEnv(reinterpret_cast<void**>(&env_), JNI_VERSION_1_8) == JNI_EDETACHED) {
    if (vm->AttachCurrentThread(reinterpret_cast<void**>(&env_), nullptr) == JNI_OK) {
      attachedHere_ = true;
    } else {
      env_ = nullptr;
    }
  }
}

ScopedJvmThread::~ScopedJvmThread() {
  if (attachedHere_) jvm()->DetachCurrentThread();
}

bool failOnJavaException(JNIEnv* env, const char* what) {
  if (!env->ExceptionCheck()) return false;
  jthrowable thrown = env->ExceptionOccurred();
  env->ExceptionClear();
  ADD_FAILURE() << "Java exception from " << what << ": " << javaToString(env, thrown);
  env->DeleteLocalRef(thrown);
  return true;
}

std::string javaString(JNIEnv* env, jstring text) {
  if (text == nullptr) return "(null)";
  const char* chars = env->GetStringUTFChars(text, nullptr);
  if (chars == nullptr) {
    env->ExceptionClear();
    return "(out of memory)";
  }
  std::string copy = chars;
  env->ReleaseStringUTFChars(text, chars);
  return copy;
}

std::string javaToString(JNIEnv* env, jobject object) {
  if (object == nullptr) return "(null)";
  jclass objectClass = env->FindClass("java/lang/Object");
  jmethodID toString = env->GetMethodID(objectClass, "toString", "()Ljava/lang/String;");
  jstring text = static_cast<jstring>(env->CallObjectMethod(object, toString));
  env->DeleteLocalRef(objectClass);
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    return "(toString threw)";
  }
  std::string result = javaString(env, text);
  env->DeleteLocalRef(text);
  return result;
}

#define CCOVER_CHECKED_CALL(Type, Kind, Target, Zero)                         \
  Type checkedCall##Kind(JNIEnv* env, Target target, jmethodID method, ...) { \
    va_list args;                                                             \
    va_start(args, method);                                                   \
    Type result = env->Call##Kind##MethodV(target, method, args);             \
    va_end(args);                                                             \
    return failOnJavaException(env, "Call" #Kind "Method") ? (Zero) : result; \
  }

CCOVER_CHECKED_CALL(jobject, Object, jobject, nullptr)
CCOVER_CHECKED_CALL(jint, Int, jobject, 0)
CCOVER_CHECKED_CALL(jboolean, Boolean, jobject, JNI_FALSE)
CCOVER_CHECKED_CALL(jobject, StaticObject, jclass, nullptr)
CCOVER_CHECKED_CALL(jint, StaticInt, jclass, 0)
#undef CCOVER_CHECKED_CALL

void checkedCallVoid(JNIEnv* env, jobject object, jmethodID method, ...) {
  va_list args;
  va_start(args, method);
  env->CallVoidMethodV(object, method, args);
  va_end(args);
  failOnJavaException(env, "CallVoidMethod");
}

void checkedCallStaticVoid(JNIEnv* env, jclass cls, jmethodID method, ...) {
  va_list args;
  va_start(args, method);
  env->CallStaticVoidMethodV(cls, method, args);
  va_end(args);
  failOnJavaException(env, "CallStaticVoidMethod");
}

jobject checkedNewObject(JNIEnv* env, jclass cls, jmethodID constructor, ...) {
  va_list args;
  va_start(args, constructor);
  jobject result = env->NewObjectV(cls, constructor, args);
  va_end(args);
  return failOnJavaException(env, "NewObject") ? nullptr : result;
}

void JvmTest::SetUp() {
  static std::once_flag bound;
  env_ = jvmEnv();
  ASSERT_NE(env_, nullptr) << jvmError();
  bool ok = true;
  std::call_once(bound, [&] { ok = registerCoverMainNatives(env_); });
  ASSERT_TRUE(ok) << "RegisterNatives on quorvatix/audit/CoverMain failed";
  takeJvmOutput();
}

void JvmTest::TearDown() {
  if (env_ == nullptr) return;
  if (env_->ExceptionCheck()) {
    env_->ExceptionClear();
    ADD_FAILURE() << "a Java exception is pending at the end of the test";
  }
  std::string output = takeJvmOutput();
  EXPECT_FALSE(hasJniWarning(output)) << "the JVM printed a JNI warning:\n" << output;
}

namespace {

class JvmOutputListener : public ::testing::EmptyTestEventListener {
 public:
  void OnTestEnd(const ::testing::TestInfo& info) override {
    {
      JvmState& s = jvmState();
      std::lock_guard<std::mutex> lock(s.mutex);
      if (!s.attempted) return;
    }
    std::string output = takeJvmOutput();
    if (!hasJniWarning(output)) return;
    warningsOutsideFixtures++;
    fprintf(stderr, "JNI warning printed during %s.%s:\n%s\n", info.test_suite_name(), info.name(),
            output.c_str());
  }
};

}  // namespace

::testing::TestEventListener* newJvmOutputListener() { return new JvmOutputListener(); }

int jvmWarningsOutsideFixtures() { return warningsOutsideFixtures.load(); }
