#include "runtime/jvmti/monitor.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

namespace cci_jvmti {
namespace {

struct Monitor {
  std::atomic<const void*> owner;
  int32_t depth;  // entries beyond the first; touched by the owner only
  char* name;
};

// The address of a thread-local byte identifies the calling thread.
thread_local char threadToken;

[[noreturn]] void misuse(const char* what, const Monitor* m) {
  fprintf(stderr, "cci: %s monitor \"%s\"\n", what, m->name != nullptr ? m->name : "");
  fflush(stderr);
  abort();
}

void acquire(Monitor* m, const void* self) {
  for (int round = 0;; round++) {
    const void* expected = nullptr;
    if (m->owner.load(std::memory_order_relaxed) == nullptr &&
        m->owner.compare_exchange_weak(expected, self, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
      return;
    }
    if (round < 64) continue;
    if (round < 1024) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  }
}

}  // namespace

void* newMonitor(const char* name) {
  void* block = calloc(1, sizeof(Monitor));
  if (block == nullptr) {
    fputs("cci: out of memory\n", stderr);
    abort();
  }
  Monitor* m = new (block) Monitor();
  m->owner.store(nullptr, std::memory_order_relaxed);
  if (name != nullptr) {
    size_t length = strlen(name) + 1;
    m->name = static_cast<char*>(malloc(length));
    if (m->name != nullptr) memcpy(m->name, name, length);
  }
  return m;
}

void enterMonitor(void* handle) {
  Monitor* m = static_cast<Monitor*>(handle);
  const void* self = &threadToken;
  const void* expected = nullptr;
  if (m->owner.compare_exchange_strong(expected, self, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
    return;
  }
  if (expected == self) {
    m->depth++;
    return;
  }
  acquire(m, self);
}

void exitMonitor(void* handle) {
  Monitor* m = static_cast<Monitor*>(handle);
  if (m->owner.load(std::memory_order_relaxed) != &threadToken) {
    misuse("exit by a thread that does not own", m);
  }
  if (m->depth > 0) {
    m->depth--;
  } else {
    m->owner.store(nullptr, std::memory_order_release);
  }
}

bool ownsMonitor(void* handle) {
  Monitor* m = static_cast<Monitor*>(handle);
  return m->owner.load(std::memory_order_relaxed) == &threadToken;
}

}  // namespace cci_jvmti
