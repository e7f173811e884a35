#include "runtime/jvmti/monitor.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

#include "cci/cci.h"
#include "platform/platform.h"

// A monitor starts reserved for the first thread that enters it. Most method
// locks are only ever entered by one thread, and for that thread entering is a
// plain store of `held` and a load of `revoking`, with no read-modify-write
// (which costs more than the rest of a line event together).
//
// The first other thread to enter revokes the reservation for good: it sets
// `revoking`, runs a process-wide barrier, and waits for `held` to drop. The
// barrier pairs with the reserved thread's store-then-load (an asymmetric
// Dekker): either that thread sees `revoking` and backs off to the shared path,
// or the revoker sees `held` and waits. From then on every thread takes the
// shared path: a compare-and-swap of `owner`.
//
// `owner` names the thread inside the monitor in both modes, so re-entry costs
// one load; `depth` counts re-entries and is touched by the owner only.
namespace cci_jvmti {
namespace {

struct Monitor {
  std::atomic<const void*> owner;
  std::atomic<const void*> reservedFor;
  std::atomic<uint8_t> held;      // the reserved thread is inside
  std::atomic<uint8_t> revoking;  // a revocation has begun (never cleared)
  std::atomic<uint8_t> revoked;   // the barrier has run: the shared path is safe
  int32_t depth;
  uint32_t number;  // with a prefix: the name's number
  const char* name;
  bool numbered;  // the name is a prefix shared by a block of monitors
};

// Monitors of one block lie a cache line apart.
constexpr size_t kMonitorStride = 64;
static_assert(sizeof(Monitor) <= kMonitorStride, "a monitor fits its cache line");

// The address of a thread-local byte identifies the calling thread.
thread_local char threadToken;

// Registering for the process barrier can take milliseconds (on Linux it waits
// for an RCU grace period once the process has a second thread), so
// prepareMonitors starts it on a helper thread at load, long before the class
// hook first enters a monitor. Whoever needs the answer first waits for a
// registration under way and never starts a second one; the answer is known
// before any monitor is reserved, as if it had been asked for there.
enum BarrierState { kUnknown, kRegistering, kAvailable, kUnavailable };
std::atomic<int> barrierState{kUnknown};

void registerBarrier() {
  barrierState.store(platform::enableProcessBarrier() ? kAvailable : kUnavailable,
                     std::memory_order_release);
}

void pause(int round) {
  if (round < 64) return;
  if (round < 1024) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

// Never answers before the registration has run: a monitor entered on the
// shared path must never be reserved afterwards.
bool reservationsEnabled() {
  for (int round = 0;; round++) {
    int s = barrierState.load(std::memory_order_acquire);
    if (s == kAvailable || s == kUnavailable) return s == kAvailable;
    if (s == kUnknown && barrierState.compare_exchange_strong(s, kRegistering)) {
      registerBarrier();
    } else {
      pause(round);
    }
  }
}

[[noreturn]] __attribute__((noinline)) void misuse(const char* what, const Monitor* m) {
  const char* name = m->name != nullptr ? m->name : "";
  if (m->numbered) {
    fprintf(stderr, "cci: %s monitor \"%s%u\"\n", what, name, static_cast<unsigned>(m->number));
  } else {
    fprintf(stderr, "cci: %s monitor \"%s\"\n", what, name);
  }
  fflush(stderr);
  abort();
}

void waitUntilNotHeld(Monitor* m) {
  for (int round = 0; m->held.load(std::memory_order_acquire) != 0; round++) pause(round);
}

// Ends the reservation; returns once the barrier has run and the reserved
// thread is outside. From then on the reserved thread can't get in on the
// reserved path: after the barrier it sees `revoking`.
void revoke(Monitor* m) {
  uint8_t wasRevoking = m->revoking.exchange(1, std::memory_order_seq_cst);
  if (wasRevoking == 0) {
    platform::processBarrier();
    m->revoked.store(1, std::memory_order_release);
  } else {
    for (int round = 0; m->revoked.load(std::memory_order_acquire) == 0; round++) pause(round);
  }
  waitUntilNotHeld(m);
}

// Enters on the reserved path; false when a revocation has begun.
inline bool enterReserved(Monitor* m, const void* self) {
  m->held.store(1, std::memory_order_relaxed);
  // Only the compiler must keep the store before the load: the revoker's
  // process barrier orders them for the processor.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (m->revoking.load(std::memory_order_relaxed) == 0) {
    // No acquire needed: before any revocation this thread is the only one
    // that has ever been inside.
    m->owner.store(self, std::memory_order_relaxed);
    return true;
  }
  m->held.store(0, std::memory_order_release);
  return false;
}

void enterShared(Monitor* m, const void* self) {
  for (int round = 0;; round++) {
    const void* expected = nullptr;
    if (m->owner.load(std::memory_order_relaxed) == nullptr &&
        m->owner.compare_exchange_weak(expected, self, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
      return;
    }
    pause(round);
  }
}

__attribute__((noinline)) void enterSlow(Monitor* m, const void* self) {
  const void* reserved = m->reservedFor.load(std::memory_order_acquire);
  if (reserved == nullptr && reservationsEnabled()) {
    if (m->reservedFor.compare_exchange_strong(reserved, self, std::memory_order_acq_rel) &&
        enterReserved(m, self)) {
      return;
    }
    reserved = m->reservedFor.load(std::memory_order_acquire);
  }
  // Every entry on the shared path of a monitor that was ever reserved first
  // makes sure the reserved thread is outside: it may have got in just before
  // the barrier, and its `owner` store is a plain one.
  if (reserved != nullptr) {
    if (m->revoked.load(std::memory_order_acquire) == 0) {
      revoke(m);
    } else {
      waitUntilNotHeld(m);
    }
  }
  enterShared(m, self);
}

}  // namespace

void prepareMonitors() {
  int expected = kUnknown;
  if (!barrierState.compare_exchange_strong(expected, kRegistering)) return;
  // No thread to spare: the first entry that needs the answer registers.
  if (!platform::startDetachedThread(registerBarrier)) {
    barrierState.store(kUnknown, std::memory_order_release);
  }
}

namespace {

void* zeroed(size_t size) {
  void* block = calloc(1, size);
  if (block == nullptr) {
    fputs("cci: out of memory\n", stderr);
    abort();
  }
  return block;
}

Monitor* construct(void* at) {
  Monitor* m = new (at) Monitor();
  m->owner.store(nullptr, std::memory_order_relaxed);
  m->reservedFor.store(nullptr, std::memory_order_relaxed);
  m->held.store(0, std::memory_order_relaxed);
  m->revoking.store(0, std::memory_order_relaxed);
  m->revoked.store(0, std::memory_order_relaxed);
  m->depth = 0;
  m->number = 0;
  m->name = nullptr;
  m->numbered = false;
  return m;
}

}  // namespace

void* newMonitor(const char* name) {
  Monitor* m = construct(zeroed(sizeof(Monitor)));
  if (name != nullptr) {
    size_t length = strlen(name) + 1;
    char* copy = static_cast<char*>(malloc(length));
    if (copy != nullptr) memcpy(copy, name, length);
    m->name = copy;
  }
  return m;
}

void* newMonitorBlock(const char* prefix, size_t count) {
  // Never freed, like every monitor, so the block's own start need not be
  // kept once the first monitor is aligned to its cache line.
  uintptr_t block = reinterpret_cast<uintptr_t>(zeroed(count * kMonitorStride + kMonitorStride));
  uintptr_t first = (block + kMonitorStride - 1) & ~static_cast<uintptr_t>(kMonitorStride - 1);
  for (size_t i = 0; i < count; i++) {
    Monitor* m = construct(reinterpret_cast<void*>(first + i * kMonitorStride));
    m->name = prefix;
    m->numbered = true;
  }
  return reinterpret_cast<void*>(first);
}

void* monitorInBlock(void* block, size_t index, uint32_t number) {
  Monitor* m = reinterpret_cast<Monitor*>(static_cast<char*>(block) + index * kMonitorStride);
  m->number = number;
  return m;
}

namespace {

inline void enter(void* handle) {
  Monitor* m = static_cast<Monitor*>(handle);
  const void* self = &threadToken;
  if (m->owner.load(std::memory_order_relaxed) == self) {
    m->depth++;
    return;
  }
  if (m->reservedFor.load(std::memory_order_relaxed) == self && enterReserved(m, self)) return;
  enterSlow(m, self);
}

inline void leave(void* handle) {
  Monitor* m = static_cast<Monitor*>(handle);
  const void* self = &threadToken;
  if (m->owner.load(std::memory_order_relaxed) != self) {
    misuse("exit by a thread that does not own", m);
  }
  if (m->depth > 0) {
    m->depth--;
    return;
  }
  m->owner.store(nullptr, std::memory_order_release);
  // held is only ever set by the reserved thread, so it is ours to clear.
  if (m->held.load(std::memory_order_relaxed) != 0 &&
      m->reservedFor.load(std::memory_order_relaxed) == self) {
    m->held.store(0, std::memory_order_release);
  }
}

}  // namespace

void enterMonitor(void* handle) { enter(handle); }

void exitMonitor(void* handle) { leave(handle); }

bool ownsMonitor(void* handle) {
  Monitor* m = static_cast<Monitor*>(handle);
  return m->owner.load(std::memory_order_relaxed) == &threadToken;
}

}  // namespace cci_jvmti

// The agent's entry points, with the fast paths inlined: a method's monitor is
// entered and left on every line event.
extern "C" {

CCI_API void* qmiMonitorAllocate(const char* name) { return cci_jvmti::newMonitor(name); }

CCI_API void qmiMonitorEnter(void* monitor) { cci_jvmti::enter(monitor); }

CCI_API void qmiMonitorExit(void* monitor) { cci_jvmti::leave(monitor); }

}  // extern "C"
