// Re-entrant monitors. Uncontended, entering costs one compare-and-swap on the
// owner word and leaving one release store; re-entry by the owner costs no
// atomic read-modify-write at all. A contended entry spins briefly, then yields,
// then sleeps in short steps, so that many threads on few cores still progress.
//
// Entry counters are written only by the owner while it holds the monitor, so
// they need no read-modify-write either; tests read them with relaxed loads.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

#include "runtime/testing/runtime_internal.h"

namespace cci_testing {
namespace {

struct Monitor {
  std::atomic<const void*> owner;
  int32_t depth;    // entries beyond the first; touched by the owner only
  int64_t entries;  // counted entries; written by the owner only
  const char* name;
  Monitor* older;  // the monitor allocated before this one
};

// Every monitor ever allocated, newest first. Monitors are never freed: the
// agent may hold one until the process ends.
std::atomic<Monitor*> newestMonitor{nullptr};

// A per-thread address identifies the calling thread.
thread_local char threadToken;

[[noreturn]] void misuse(const char* what, const Monitor* m) {
  fprintf(stderr, "cci testing runtime: %s monitor \"%s\"\n", what,
          m->name != nullptr ? m->name : "");
  fflush(stderr);
  abort();
}

void acquire(Monitor* m, const void* self) {
  const void* expected = nullptr;
  if (m->owner.compare_exchange_strong(expected, self, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
    return;
  }
  for (int round = 0;; round++) {
    if (m->owner.load(std::memory_order_relaxed) == nullptr) {
      expected = nullptr;
      if (m->owner.compare_exchange_weak(expected, self, std::memory_order_acquire,
                                         std::memory_order_relaxed)) {
        return;
      }
    }
    if (round < 64) continue;
    if (round < 1024) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  }
}

void enter(void* handle, bool counted) {
  Monitor* m = static_cast<Monitor*>(handle);
  const void* self = &threadToken;
  if (m->owner.load(std::memory_order_relaxed) == self) {
    m->depth++;
  } else {
    acquire(m, self);
  }
  if (counted) {
    std::atomic_ref<int64_t> entries(m->entries);
    entries.store(entries.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  }
}

void leave(void* handle) {
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

}  // namespace

void* allocateMonitor(const char* name) {
  Monitor* m = static_cast<Monitor*>(keepBlock(sizeof(Monitor)));
  new (&m->owner) std::atomic<const void*>(nullptr);
  m->name = keepString(name);
  Monitor* older = newestMonitor.load(std::memory_order_relaxed);
  do {
    m->older = older;
  } while (!newestMonitor.compare_exchange_weak(older, m, std::memory_order_release,
                                                std::memory_order_relaxed));
  return m;
}

void enterQuietly(void* monitor) { enter(monitor, false); }
void exitQuietly(void* monitor) { leave(monitor); }

}  // namespace cci_testing

extern "C" {

CCI_API void* qmiMonitorAllocate(const char* name) {
  cci_testing::logCall("qmiMonitorAllocate");
  return cci_testing::allocateMonitor(name);
}

CCI_API void qmiMonitorEnter(void* monitor) { cci_testing::enter(monitor, true); }

CCI_API void qmiMonitorExit(void* monitor) { cci_testing::leave(monitor); }

CCI_API int64_t cciTestMonitorEntries(void* monitor) {
  if (monitor == nullptr) return 0;
  auto* m = static_cast<cci_testing::Monitor*>(monitor);
  return std::atomic_ref<int64_t>(m->entries).load(std::memory_order_relaxed);
}

CCI_API int64_t cciTestAllMonitorEntries(void) {
  int64_t sum = 0;
  for (auto* m = cci_testing::newestMonitor.load(std::memory_order_acquire); m != nullptr;
       m = m->older) {
    sum += cciTestMonitorEntries(m);
  }
  return sum;
}

CCI_API void* cciTestMonitorNamed(const char* name) {
  if (name == nullptr) return nullptr;
  for (auto* m = cci_testing::newestMonitor.load(std::memory_order_acquire); m != nullptr;
       m = m->older) {
    if (m->name != nullptr && strcmp(m->name, name) == 0) return m;
  }
  return nullptr;
}

}  // extern "C"

extern "C" CCI_API int32_t cciTestMonitorHeld(void* monitor) {
  if (monitor == nullptr) return 0;
  auto* m = static_cast<cci_testing::Monitor*>(monitor);
  return m->owner.load(std::memory_order_acquire) != nullptr ? 1 : 0;
}
