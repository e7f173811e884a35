// The interface between the coverage agent (ccover) and its runtime (cci).
//
// cci is loaded into the JVM at start-up. It owns the object table, the list of
// classes not yet reported to the Java side, the monitors, per-thread storage and
// the agent's memory, and it calls the agent's handlers. Any library that exports
// these functions with C linkage and the default (cdecl) calling convention can
// stand in for ours.
//
// Thread-safety: every function may be called from any thread attached to the JVM.
#ifndef CCOVER_CCI_CCI_H_
#define CCOVER_CCI_CCI_H_

#include <jni.h>
#include <stddef.h>

// On Windows the runtime exports these and the agent imports them. The support
// library is built once for the agent, the runtimes and the tools, so it
// declares them plainly (CCI_LINKED_STATICALLY): the linker then binds its calls
// to the import library's stubs in the agent and to the definitions themselves
// in a runtime or a tool.
#if defined(_WIN32)
#if defined(CCI_BUILDING_RUNTIME)
#define CCI_API __declspec(dllexport)
#elif defined(CCI_LINKED_STATICALLY)
#define CCI_API
#else
#define CCI_API __declspec(dllimport)
#endif
#else
#define CCI_API __attribute__((visibility("default")))
#endif

struct QMHashTable;
struct QMVector;

#ifdef __cplusplus
extern "C" {
#endif

CCI_API jint cciIsInitialized(void);
CCI_API jint cciBuildNumber(void);
CCI_API struct QMHashTable* cciGetCObjectsByID(void);
CCI_API void* cciGetCObjectsByIDLock(void);
CCI_API struct QMVector* cciGetUnregisteredClasses(void);
CCI_API void* cciGetUnregisteredClassesLock(void);
// handlerTable points at eight function pointers (slots 0..7), kept by cci.
CCI_API jint cciSetHandlers(JNIEnv* env, void* handlerTable);
CCI_API jint cciWillProcessAuditRequest(void);
CCI_API jint cciDidProcessAuditRequest(void);
CCI_API jint cciSuspendAllThreads(JNIEnv* env);
CCI_API jint cciResumeAllThreads(JNIEnv* env);
CCI_API jint cciRegisterAuditThread(JNIEnv* env);

// Monitors are re-entrant for the owning thread.
CCI_API void* qmiMonitorAllocate(const char* name);
CCI_API void qmiMonitorEnter(void* monitor);
CCI_API void qmiMonitorExit(void* monitor);
// Storage is per calling thread; null before the first store.
CCI_API void* qmiGetThreadLocalStorage(JNIEnv* env);
CCI_API void qmiSetThreadLocalStorage(JNIEnv* env, void* value);

CCI_API void* sMalloc(size_t size);
CCI_API void sFree(void* block);

#ifdef __cplusplus
}  // extern "C"
#endif

// Handler signatures, by slot of the eight-entry handler table. All are plain
// (cdecl) functions returning nothing; cci calls them on the thread of the event.
//   0, 5: ignored events (the agent installs a handler that reads no arguments)
//   1, 2: line slot executed / method entered at a line slot
//   3:    method entered without a line slot
//   4:    the main class's name is known
//   6:    a thread ends
//   7:    the JVM dies
typedef void (*CciLineHandler)(JNIEnv* env, jint methodId, jint lineSlot);
typedef void (*CciEntryHandler)(JNIEnv* env, jint methodId);
typedef void (*CciClassNameHandler)(JNIEnv* env, jstring mainClassName);
typedef void (*CciEnvHandler)(JNIEnv* env);

enum {
  kCciSlotEmpty0 = 0,
  kCciSlotLine = 1,
  kCciSlotEntryLine = 2,
  kCciSlotEntry = 3,
  kCciSlotClassName = 4,
  kCciSlotEmpty5 = 5,
  kCciSlotThreadEnd = 6,
  kCciSlotShutdown = 7,
  kCciHandlerCount = 8
};

#endif  // CCOVER_CCI_CCI_H_
