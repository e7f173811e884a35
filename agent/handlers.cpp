#include "agent/handlers.h"

#include <stdio.h>
#include <string.h>

#include <atomic>

#include "cci/cci.h"
#include "cci/records.h"
#include "model/object_table.h"
#include "support/fatal.h"

namespace {

enum class Handler { kLine, kEntryLine, kEntry };

ThreadMethodCache* newCache(JNIEnv* env) {
  ThreadMethodCache* cache = static_cast<ThreadMethodCache*>(sMalloc(sizeof(ThreadMethodCache)));
  // An array of pointers, sized by its element.
  // NOLINTNEXTLINE(bugprone-sizeof-expression)
  const size_t methodsSize = sizeof(cache->entryMethods[0]) * kThreadCacheEntries;
  const size_t idsSize = sizeof(cache->entryIds[0]) * kThreadCacheEntries;
  cache->entryMethods = static_cast<CMethod**>(sMalloc(methodsSize));
  cache->entryIds = static_cast<uint32_t*>(sMalloc(idsSize));
  // Both arrays are cleared, so that an ID of 0 never matches an empty entry
  // with a usable method: it falls through to the lookup.
  memset(cache->entryMethods, 0, methodsSize);
  memset(cache->entryIds, 0, idsSize);
  cache->current = 0;
  qmiSetThreadLocalStorage(env, cache);
  return cache;
}

[[noreturn]] void reportInvalidMethod(Handler handler, uint32_t id, bool found) {
  if (!found) {
    fatalExit(stdout, "CC_C: Inconsistency in entering line, method id %d is invalid.\n",
              static_cast<int>(id));
  }
  switch (handler) {
    case Handler::kLine:
      fatalExit(stderr, "CC_C : Inconsistency entering line, object is not a method\n");
    case Handler::kEntryLine:
      fatalExit(stdout, "CC_C: Inconsistency in entering line, object %d is not a method\n",
                static_cast<int>(id));
    case Handler::kEntry:
      break;
  }
  fatalExit(stdout, "CC_C: Inconsistency entering line, object is not a method\n");
}

// The miss path: look the method up under the table's lock and insert it after
// the current entry, overwriting whatever was there.
__attribute__((noinline)) CMethod* lookupAndInsert(ThreadMethodCache* cache, uint32_t id,
                                                   Handler handler) {
  CObject* object = lookupObject(id);
  if (object == nullptr) reportInvalidMethod(handler, id, false);
  if (object->type != kCObjectMethod) reportInvalidMethod(handler, id, true);
  CMethod* method = static_cast<CMethod*>(object->record);
  uint8_t index = static_cast<uint8_t>((cache->current + 1) & (kThreadCacheEntries - 1));
  cache->entryIds[index] = id;
  cache->entryMethods[index] = method;
  cache->current = index;
  return method;
}

inline CMethod* findCachedMethod(JNIEnv* env, uint32_t id, Handler handler) {
  ThreadMethodCache* cache = static_cast<ThreadMethodCache*>(qmiGetThreadLocalStorage(env));
  if (__builtin_expect(cache == nullptr, 0)) cache = newCache(env);
  uint32_t index = cache->current;
  // current is only ever stored masked; a larger value means the cache record
  // was overwritten. Report it and stay inside the arrays.
  if (handler == Handler::kLine && __builtin_expect(index > 32, 0)) {
    fprintf(stderr, "CC_C : Will crash cacheIndex = %d %d\n", static_cast<int>(index),
            static_cast<int>(index % 32));
  }
  index &= kThreadCacheEntries - 1;
  for (int probes = 0; probes < kThreadCacheEntries; probes++) {
    if (cache->entryIds[index] == id) {
      cache->current = static_cast<uint8_t>(index);
      CMethod* method = cache->entryMethods[index];
      if (method != nullptr) return method;
      break;
    }
    index = (index - 1) & (kThreadCacheEntries - 1);
  }
  return lookupAndInsert(cache, id, handler);
}

// Counters saturate at kCounterMax: a count that reached the top stays there
// rather than wrapping to 0, which would read as "never run".
inline void increment(uint32_t& counter, bool synchronizedMethod) {
  std::atomic_ref<uint32_t> ref(counter);
  uint32_t value = ref.load(std::memory_order_relaxed);
  if (synchronizedMethod) {
    // No lock: a compare-and-swap, so that racing threads never carry the
    // counter past the top. The exit test is never taken before 2^32-1 events,
    // so it is predicted.
    while (value != kCounterMax &&
           !ref.compare_exchange_weak(value, value + 1, std::memory_order_relaxed)) {
    }
  } else {
    // The method's lock is held: a plain read-modify-write, visible to lock-free
    // readers as a whole value. Adding the comparison's result (cmp; adc) keeps
    // the saturation free of branches.
    ref.store(value + static_cast<uint32_t>(value != kCounterMax), std::memory_order_relaxed);
  }
}

inline void touch(CMethod* method) {
  if (loadRelaxed(method->touched) == 1) return;
  storeRelaxed<uint8_t>(method->touched, 1);
  noteTouchedClass(method->classId);
}

inline void count(CMethod* method, bool entry, int32_t lineSlot, bool withLine) {
  // The low 16 bits of the argument, taken as a signed number. Negative slots
  // become large unsigned values and fail the one bounds test.
  uint32_t slot = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(lineSlot)));
  bool slotValid = withLine && slot < method->lineCount;
  if (!entry && !slotValid) return;
  bool synchronizedMethod = (method->accessFlags & kSynchronizedFlag) != 0;
  if (!synchronizedMethod) qmiMonitorEnter(method->lock);
  if (entry) increment(method->invocations, synchronizedMethod);
  if (slotValid) increment(method->hits[slot], synchronizedMethod);
  if (!synchronizedMethod) qmiMonitorExit(method->lock);
  touch(method);
}

}  // namespace

void emptyHandler(JNIEnv*) {}

void lineHandler(JNIEnv* env, jint methodId, jint lineSlot) {
  CMethod* method = findCachedMethod(env, static_cast<uint32_t>(methodId), Handler::kLine);
  count(method, false, lineSlot, true);
}

void entryLineHandler(JNIEnv* env, jint methodId, jint lineSlot) {
  CMethod* method = findCachedMethod(env, static_cast<uint32_t>(methodId), Handler::kEntryLine);
  count(method, true, lineSlot, true);
}

void entryHandler(JNIEnv* env, jint methodId) {
  CMethod* method = findCachedMethod(env, static_cast<uint32_t>(methodId), Handler::kEntry);
  count(method, true, 0, false);
}

void threadEndHandler(JNIEnv* env) {
  ThreadMethodCache* cache = static_cast<ThreadMethodCache*>(qmiGetThreadLocalStorage(env));
  if (cache == nullptr) return;
  sFree(cache->entryMethods);
  sFree(cache->entryIds);
  sFree(cache);
  // A later event on this thread then starts a fresh cache instead of reading
  // freed memory.
  qmiSetThreadLocalStorage(env, nullptr);
}
