#include "runtime/jvmti/startup_trace.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>

#include "runtime/jvmti/class_hook.h"

namespace cci_jvmti {
namespace {

using Clock = std::chrono::steady_clock;

bool on = false;
Clock::time_point origin;
Clock::time_point previous;

std::atomic<uint64_t> hookNanos{0};
std::atomic<uint32_t> hookCalls{0};
std::atomic<uint32_t> hookChanged{0};

double millisBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

void JNICALL timedClassFileLoad(jvmtiEnv* jvmti, JNIEnv* env, jclass classBeingRedefined,
                                jobject loader, const char* name, jobject protectionDomain,
                                jint classDataLength, const unsigned char* classData,
                                jint* newClassDataLength, unsigned char** newClassData) {
  Clock::time_point begin = Clock::now();
  onClassFileLoad(jvmti, env, classBeingRedefined, loader, name, protectionDomain, classDataLength,
                  classData, newClassDataLength, newClassData);
  uint64_t nanos = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - begin).count());
  hookNanos.fetch_add(nanos, std::memory_order_relaxed);
  hookCalls.fetch_add(1, std::memory_order_relaxed);
  if (*newClassData != nullptr) hookChanged.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

int traceSetting(const char* text) {
  if (text == nullptr || text[0] == '\0' || strcmp(text, "0") == 0 || strcmp(text, "false") == 0) {
    return 0;
  }
  if (strcmp(text, "1") == 0 || strcmp(text, "true") == 0) return 1;
  return -1;
}

void traceStart() {
  const char* text = getenv("CCI_TRACE");
  int setting = traceSetting(text);
  if (setting < 0) {
    fprintf(stderr, "cci: CCI_TRACE=%s is neither 1 nor 0; the start-up trace stays off\n", text);
  }
  on = setting == 1;
  origin = Clock::now();
  previous = origin;
  if (on) traceMark("load");
}

bool tracing() { return on; }

void traceMark(const char* step) {
  if (!on) return;
  Clock::time_point now = Clock::now();
  fprintf(stderr, "cci: trace %8.1f ms  %-28s +%.1f ms\n", millisBetween(origin, now), step,
          millisBetween(previous, now));
  previous = now;
}

jvmtiEventClassFileLoadHook classHookToRegister() {
  return on ? &timedClassFileLoad : &onClassFileLoad;
}

void traceClassHookTotals() {
  if (!on) return;
  fprintf(stderr, "cci: trace class hook: %u classes seen, %u changed, %.1f ms in the hook\n",
          static_cast<unsigned>(hookCalls.load(std::memory_order_relaxed)),
          static_cast<unsigned>(hookChanged.load(std::memory_order_relaxed)),
          static_cast<double>(hookNanos.load(std::memory_order_relaxed)) / 1e6);
}

}  // namespace cci_jvmti
