// The cci interface of the JVMTI runtime (the monitors' entry points are in
// monitor.cpp). See cci/cci.h for the contract; the results of the
// run-control calls are described in threads.h.
#include <stdlib.h>

#include "cci/cci.h"
#include "runtime/jvmti/live.h"
#include "runtime/jvmti/runtime_state.h"
#include "runtime/jvmti/threads.h"
#include "runtime/jvmti/vm.h"

namespace cci_jvmti {
namespace {

// Keyed by the calling thread, as the contract asks; initial-exec, so a read
// is one load relative to the thread pointer.
thread_local void* threadStorage = nullptr;

constexpr jint kBuildNumber = 2;

}  // namespace

void clearThreadStorage() { threadStorage = nullptr; }

}  // namespace cci_jvmti

using cci_jvmti::LocalRef;
using cci_jvmti::state;

extern "C" {

CCI_API jint cciIsInitialized(void) {
  return state().initialized.load(std::memory_order_acquire) != 0 ? 1 : 0;
}

CCI_API jint cciBuildNumber(void) { return cci_jvmti::kBuildNumber; }

CCI_API struct QMHashTable* cciGetCObjectsByID(void) { return state().idToCObjects; }

CCI_API void* cciGetCObjectsByIDLock(void) { return state().idToCObjectsLock; }

CCI_API struct QMVector* cciGetUnregisteredClasses(void) { return state().unregisteredClasses; }

CCI_API void* cciGetUnregisteredClassesLock(void) { return state().unregisteredClassesLock; }

// Returns 0 once the table is in place, -1 for a null table. When the program's
// main class is known (and it is not the launcher, which names it itself), the
// agent is told at once on the calling thread.
CCI_API jint cciSetHandlers(JNIEnv* env, void* handlers) {
  if (handlers == nullptr) return -1;
  cci_jvmti::handlerTable.store(static_cast<void**>(handlers), std::memory_order_release);
  const std::string& mainClass = state().mainClass;
  if (env != nullptr && !mainClass.empty()) {
    LocalRef<jstring> name(env, env->NewStringUTF(mainClass.c_str()));
    if (!name) {
      env->ExceptionClear();
    } else {
      reinterpret_cast<CciClassNameHandler>(static_cast<void**>(handlers)[kCciSlotClassName])(
          env, name.get());
    }
  }
  cci_jvmti::startLiveViewerOnce(env);
  return 0;
}

CCI_API jint cciWillProcessAuditRequest(void) { return cci_jvmti::willProcessAuditRequest(); }

CCI_API jint cciDidProcessAuditRequest(void) { return cci_jvmti::didProcessAuditRequest(); }

CCI_API jint cciSuspendAllThreads(JNIEnv* env) { return cci_jvmti::suspendAllThreads(env); }

CCI_API jint cciResumeAllThreads(JNIEnv* env) { return cci_jvmti::resumeAllThreads(env); }

CCI_API jint cciRegisterAuditThread(JNIEnv* env) { return cci_jvmti::registerAuditThread(env); }

CCI_API void* qmiGetThreadLocalStorage(JNIEnv*) { return cci_jvmti::threadStorage; }

CCI_API void qmiSetThreadLocalStorage(JNIEnv*, void* value) { cci_jvmti::threadStorage = value; }

CCI_API void* sMalloc(size_t size) { return malloc(size == 0 ? 1 : size); }

CCI_API void sFree(void* block) { free(block); }

}  // extern "C"
