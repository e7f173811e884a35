// Process-wide state of the JVMTI runtime, shared by its units.
//
// Set up by Agent_OnLoad and the VM-init callback and never torn down (a JVM
// may end while threads are still inside the runtime). Fields written after
// start-up are atomics; the others are written once before any reader runs.
#ifndef CCOVER_RUNTIME_JVMTI_RUNTIME_STATE_H_
#define CCOVER_RUNTIME_JVMTI_RUNTIME_STATE_H_

#include <jni.h>
#include <jvmti.h>

#include <atomic>
#include <string>

#include "runtime/jvmti/options.h"

struct QMHashTable;
struct QMVector;

namespace cci_jvmti {

struct RuntimeState {
  JavaVM* vm = nullptr;
  jvmtiEnv* jvmti = nullptr;
  Options options;
  std::string home;  // folder of cci.jar

  QMHashTable* idToCObjects = nullptr;
  void* idToCObjectsLock = nullptr;
  QMVector* unregisteredClasses = nullptr;
  void* unregisteredClassesLock = nullptr;

  // Set once Agent_OnLoad has built the tables and enabled its events.
  std::atomic<int> initialized{0};
  // The main class in internal form ("" when unknown); set at VM init.
  std::string mainClass;
  // java.class.path as the launcher set it, before the runtime added to it
  // (java -jar sets it to the jar alone).
  std::string launchClassPath;
  // True when the program runs through quorvatix.audit.CoverMain, which starts
  // the Java side itself.
  bool launcherMode = false;
};

RuntimeState& state();

// The agent's eight handlers; null until cciSetHandlers. A plain global, not a
// field of the state, so that a probe reads it without a function call.
extern std::atomic<void**> handlerTable;

// Handler slot `slot` of the agent's table, or null before cciSetHandlers.
inline void* handlerAt(int slot) {
  void** table = handlerTable.load(std::memory_order_acquire);
  return table != nullptr ? table[slot] : nullptr;
}

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_RUNTIME_STATE_H_
