// The execution handlers that cci calls on the threads of the program under
// test, on every executed line slot and method entry. This is the hot path.
//
// Rules of the hot path:
// - After a thread's first event: no allocation, no shared lock on a cache hit,
//   no logging. A method is found through the thread's 32-entry cache; only a
//   miss looks it up under the object table's lock.
// - Counters and touched are shared with readers that hold no common lock, so
//   they are accessed through relaxed std::atomic_ref. A method's own lock
//   guards its increments; a synchronized method (0x20) runs on many objects at
//   once without that lock being useful to the program, so it is counted with an
//   atomic increment and no lock at all.
// - hits and invocations saturate at kCounterMax (2^32-1) and stay there: one
//   compare, no branch, for a plain method; a compare-and-swap loop in place of
//   the atomic add for a synchronized one.
// - A line slot outside 0 .. lineCount - 1 is dropped: nothing is counted for it
//   and nothing outside the method's arrays is touched. One unsigned compare.
// - The class of a method is queued for an update of its figures only when the
//   method's touched flag goes from 0 to 1, under updatedClassLock.
//
// An ID that is not a method in the object table means that cci and the agent
// disagree: the handler prints one message and ends the process with code 1.
// All handlers are plain (cdecl) functions, as cci expects.
#ifndef CCOVER_AGENT_HANDLERS_H_
#define CCOVER_AGENT_HANDLERS_H_

#include <jni.h>
#include <stdint.h>

struct CMethod;

// Per-thread cache of recently used methods, kept in cci's thread storage. The
// newest entries lie at current and just before it.
struct ThreadMethodCache {
  CMethod** entryMethods;  // 32 entries
  uint32_t* entryIds;      // 32 entries
  uint8_t current;         // 0 .. 31
};

enum { kThreadCacheEntries = 32 };

// The value at which a counter stops.
constexpr uint32_t kCounterMax = 0xFFFFFFFFu;

void emptyHandler(JNIEnv* env);
void lineHandler(JNIEnv* env, jint methodId, jint lineSlot);
void entryLineHandler(JNIEnv* env, jint methodId, jint lineSlot);
void entryHandler(JNIEnv* env, jint methodId);
void threadEndHandler(JNIEnv* env);

#endif  // CCOVER_AGENT_HANDLERS_H_
