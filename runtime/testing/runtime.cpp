// The cci interface of the testing runtime: settable results, the call log,
// the captured handler table, the object table and unregistered list, and
// per-thread storage.
#include <stdlib.h>

#include <atomic>

#include "runtime/testing/runtime_internal.h"
#include "support/hash_table.h"
#include "support/vector.h"

namespace cci_testing {
namespace {

// Size hint of the object table: the smallest, so that tests adding a few
// dozen records see it grow as cci's table does.
constexpr int32_t kObjectTableSizeHint = 8;

// Per-thread storage is tagged with the reset generation it was stored in, so
// that a reset also forgets what every thread stored before it (without
// touching other threads' variables).
// Storage reads are counted per thread, by the thread alone (a load and a
// store, no read-modify-write on a shared line), so that counting does not
// dominate the handlers' fast path it is meant to observe.
struct ReadCounter {
  std::atomic<int64_t> reads{0};
  ReadCounter* next = nullptr;
};

struct ThreadSlot {
  void* value;
  uint64_t generation;
  ReadCounter* counter;
};

thread_local ThreadSlot threadSlot = {nullptr, 0, nullptr};
std::atomic<uint64_t> storageGeneration{1};
std::atomic<ReadCounter*> readCounters{nullptr};

// Counters of exited threads stay in the list, so the total never drops.
ReadCounter* newReadCounter() {
  ReadCounter* counter = new ReadCounter;
  ReadCounter* head = readCounters.load(std::memory_order_relaxed);
  do {
    counter->next = head;
  } while (!readCounters.compare_exchange_weak(head, counter, std::memory_order_release,
                                               std::memory_order_relaxed));
  return counter;
}

int64_t storageReadTotal() {
  int64_t total = 0;
  for (ReadCounter* c = readCounters.load(std::memory_order_acquire); c != nullptr; c = c->next) {
    total += c->reads.load(std::memory_order_relaxed);
  }
  return total;
}

// Tables and lists dropped by resets. The agent may still point into them, so
// they are kept (and stay reachable for leak checkers) until the process ends.
std::vector<void*>* graveyard = nullptr;

jint envResult(const char* name, jint fallback) {
  const char* text = getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  long value = strtol(text, &end, 0);
  return end != nullptr && *end == '\0' ? static_cast<jint>(value) : fallback;
}

// REQUIRES: stateMutex() held.
void resetLocked(RuntimeState& s) {
  s.initialized = envResult("CCI_TEST_INITIALIZED", 1);
  s.buildNumber = envResult("CCI_TEST_BUILD", 2);
  s.suspendResult = 0;
  s.resumeResult = 0;
  s.registerResult = 0;
  s.willProcessResult = 0;
  s.didProcessResult = 0;
  s.setHandlersResult = 0;
  s.handlerTable = nullptr;
  s.callLog.clear();
  if (graveyard == nullptr) graveyard = new std::vector<void*>();
  if (s.idToCObjects != nullptr) graveyard->push_back(s.idToCObjects);
  if (s.unregisteredClasses != nullptr) graveyard->push_back(s.unregisteredClasses);
  InternalAllocation internal;
  s.idToCObjects = QMHashNew(kObjectTableSizeHint, nullptr, nullptr, "IDToCObjects", 0);
  s.unregisteredClasses = QMNewVector(0);
  s.idToCObjectsLock = allocateMonitor("IDToCObjectsLock");
  s.unregisteredClassesLock = allocateMonitor("unregisteredClassesLock");
  storageGeneration.fetch_add(1, std::memory_order_relaxed);
}

RuntimeState* createState() {
  RuntimeState* s = new RuntimeState();
  std::lock_guard<std::mutex> lock(stateMutex());
  resetLocked(*s);
  return s;
}

template <typename T>
T loggedValue(const char* name, T RuntimeState::*field) {
  RuntimeState& s = state();
  std::lock_guard<std::mutex> lock(stateMutex());
  s.callLog.append(s.callLog.empty() ? "" : " ").append(name);
  return s.*field;
}

}  // namespace

std::mutex& stateMutex() {
  static std::mutex* mutex = new std::mutex();
  return *mutex;
}

RuntimeState& state() {
  static RuntimeState* s = createState();
  return *s;
}

void logCall(const char* name) {
  RuntimeState& s = state();
  std::lock_guard<std::mutex> lock(stateMutex());
  s.callLog.append(s.callLog.empty() ? "" : " ").append(name);
}

}  // namespace cci_testing

using cci_testing::RuntimeState;

extern "C" {

CCI_API jint cciIsInitialized(void) {
  return cci_testing::loggedValue("cciIsInitialized", &RuntimeState::initialized);
}

CCI_API jint cciBuildNumber(void) {
  return cci_testing::loggedValue("cciBuildNumber", &RuntimeState::buildNumber);
}

CCI_API QMHashTable* cciGetCObjectsByID(void) {
  return cci_testing::loggedValue("cciGetCObjectsByID", &RuntimeState::idToCObjects);
}

CCI_API void* cciGetCObjectsByIDLock(void) {
  return cci_testing::loggedValue("cciGetCObjectsByIDLock", &RuntimeState::idToCObjectsLock);
}

CCI_API QMVector* cciGetUnregisteredClasses(void) {
  return cci_testing::loggedValue("cciGetUnregisteredClasses", &RuntimeState::unregisteredClasses);
}

CCI_API void* cciGetUnregisteredClassesLock(void) {
  return cci_testing::loggedValue("cciGetUnregisteredClassesLock",
                                  &RuntimeState::unregisteredClassesLock);
}

CCI_API jint cciSetHandlers(JNIEnv*, void* handlerTable) {
  RuntimeState& s = cci_testing::state();
  std::lock_guard<std::mutex> lock(cci_testing::stateMutex());
  s.callLog.append(s.callLog.empty() ? "" : " ").append("cciSetHandlers");
  s.handlerTable = handlerTable;
  return s.setHandlersResult;
}

CCI_API jint cciWillProcessAuditRequest(void) {
  return cci_testing::loggedValue("cciWillProcessAuditRequest", &RuntimeState::willProcessResult);
}

CCI_API jint cciDidProcessAuditRequest(void) {
  return cci_testing::loggedValue("cciDidProcessAuditRequest", &RuntimeState::didProcessResult);
}

CCI_API jint cciSuspendAllThreads(JNIEnv*) {
  return cci_testing::loggedValue("cciSuspendAllThreads", &RuntimeState::suspendResult);
}

CCI_API jint cciResumeAllThreads(JNIEnv*) {
  return cci_testing::loggedValue("cciResumeAllThreads", &RuntimeState::resumeResult);
}

CCI_API jint cciRegisterAuditThread(JNIEnv*) {
  return cci_testing::loggedValue("cciRegisterAuditThread", &RuntimeState::registerResult);
}

CCI_API void* qmiGetThreadLocalStorage(JNIEnv*) {
  cci_testing::ThreadSlot& slot = cci_testing::threadSlot;
  if (slot.counter == nullptr) slot.counter = cci_testing::newReadCounter();
  slot.counter->reads.store(slot.counter->reads.load(std::memory_order_relaxed) + 1,
                            std::memory_order_relaxed);
  if (slot.generation != cci_testing::storageGeneration.load(std::memory_order_relaxed)) {
    return nullptr;
  }
  return slot.value;
}

CCI_API void qmiSetThreadLocalStorage(JNIEnv*, void* value) {
  cci_testing::threadSlot.value = value;
  cci_testing::threadSlot.generation =
      cci_testing::storageGeneration.load(std::memory_order_relaxed);
}

CCI_API void cciTestReset(void) {
  RuntimeState& s = cci_testing::state();
  std::lock_guard<std::mutex> lock(cci_testing::stateMutex());
  cci_testing::resetLocked(s);
}

CCI_API void cciTestSetInitialized(jint value) {
  RuntimeState& s = cci_testing::state();
  std::lock_guard<std::mutex> lock(cci_testing::stateMutex());
  s.initialized = value;
}

CCI_API void cciTestSetBuildNumber(jint value) {
  RuntimeState& s = cci_testing::state();
  std::lock_guard<std::mutex> lock(cci_testing::stateMutex());
  s.buildNumber = value;
}

CCI_API void cciTestSetPassThroughResults(jint suspend, jint resume, jint registerAudit,
                                          jint willProcess, jint didProcess) {
  RuntimeState& s = cci_testing::state();
  std::lock_guard<std::mutex> lock(cci_testing::stateMutex());
  s.suspendResult = suspend;
  s.resumeResult = resume;
  s.registerResult = registerAudit;
  s.willProcessResult = willProcess;
  s.didProcessResult = didProcess;
}

CCI_API void cciTestSetHandlersResult(jint value) {
  RuntimeState& s = cci_testing::state();
  std::lock_guard<std::mutex> lock(cci_testing::stateMutex());
  s.setHandlersResult = value;
}

CCI_API void* cciTestHandlerTable(void) {
  RuntimeState& s = cci_testing::state();
  std::lock_guard<std::mutex> lock(cci_testing::stateMutex());
  return s.handlerTable;
}

CCI_API void* cciTestHandler(int32_t slot) {
  void* table = cciTestHandlerTable();
  if (table == nullptr || slot < 0 || slot >= kCciHandlerCount) return nullptr;
  return static_cast<void**>(table)[slot];
}

CCI_API int64_t cciTestStorageReads(void) { return cci_testing::storageReadTotal(); }

CCI_API const char* cciTestCallLog(void) {
  RuntimeState& s = cci_testing::state();
  std::lock_guard<std::mutex> lock(cci_testing::stateMutex());
  s.callLogCopy = s.callLog;
  return s.callLogCopy.c_str();
}

CCI_API void cciTestClearCallLog(void) {
  RuntimeState& s = cci_testing::state();
  std::lock_guard<std::mutex> lock(cci_testing::stateMutex());
  s.callLog.clear();
}

}  // extern "C"
