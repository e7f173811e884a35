#include "agent/run_control.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "agent/start.h"
#include "cci/cci.h"
#include "platform/platform.h"
#include "snapshot/generation.h"
#include "support/java_objects.h"

namespace {

std::atomic<int32_t> shutdownHandled{0};
std::atomic<int32_t> mainClassCaptured{0};
// Replaced names are never freed: another thread may still be reading them.
std::atomic<char*> currentMainClass{nullptr};

char* copyText(const char* text) {
  size_t length = strlen(text);
  char* copy = static_cast<char*>(sMalloc(length + 1));
  memcpy(copy, text, length + 1);
  return copy;
}

jstring reportNotRunnable(JNIEnv* env, const char* format, const char* name) {
  char message[1024];
  snprintf(message, sizeof(message), format, name);
  fprintf(stderr, "%s\n", message);
  fflush(stderr);
  env->ExceptionClear();
  return QMAllocateStringUTF(env, message);
}

}  // namespace

const char* mainClassName() { return currentMainClass.load(); }

const char* exitSnapshotMainClass() {
  char* name = currentMainClass.load();
  if (name != nullptr) return name;
  char* fallback = copyText("coverageSnapshot");
  if (currentMainClass.compare_exchange_strong(name, fallback)) return fallback;
  sFree(fallback);
  return name;
}

void classNameHandler(JNIEnv* env, jstring name) {
  if (mainClassCaptured.load() != 0 || name == nullptr) return;
  const char* chars = env->GetStringUTFChars(name, nullptr);
  if (chars == nullptr) return;
  mainClassCaptured.store(1);
  currentMainClass.store(copyText(chars));
  env->ReleaseStringUTFChars(name, chars);
}

void shutdownHandler(JNIEnv* env) {
  shutdownHandled.store(1);
  if (agentFlags.snapshotAtExit != 0) writeExitSnapshot(env, exitSnapshotMainClass());
  if (agentFlags.ignoreShutdown != 0) {
    fputs("Quillmetry Message: VM Shutdown ignored.\n", stderr);
    fflush(stderr);
    for (;;) platform::sleepMillis(999999999);
  }
}

void exitNow(JNIEnv* env) {
  if (shutdownHandled.load() == 0 && agentFlags.snapshotAtExit != 0)
    writeExitSnapshot(env, exitSnapshotMainClass());
  fflush(stdout);
  fflush(stderr);
  exit(0);
}

jstring runProgramWithClass(JNIEnv* env, jstring className, jobjectArray args) {
  if (className == nullptr) {
    return reportNotRunnable(env, "Cannot find class %s", "(null)");
  }
  const char* name = env->GetStringUTFChars(className, nullptr);
  if (name == nullptr) return nullptr;  // OutOfMemoryError stays pending
  currentMainClass.store(copyText(name));
  jclass cls = env->FindClass(name);
  if (cls == nullptr) {
    jstring result = reportNotRunnable(env, "Cannot find class %s", name);
    env->ReleaseStringUTFChars(className, name);
    return result;
  }
  jmethodID main = env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
  if (main == nullptr) {
    jstring result = reportNotRunnable(env, "Cannot find main method in class name %s", name);
    env->ReleaseStringUTFChars(className, name);
    return result;
  }
  env->ReleaseStringUTFChars(className, name);
  env->CallStaticVoidMethod(cls, main, args);
  env->DeleteLocalRef(cls);
  return nullptr;
}

jstring machineID(JNIEnv* env) {
  char host[1024];
  if (!platform::hostName(host, sizeof(host))) snprintf(host, sizeof(host), "%s", "__unknown");
  host[sizeof(host) - 1] = '\0';
  return QMAllocateStringUTF(env, host);
}
