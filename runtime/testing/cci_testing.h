// Control interface of the testing runtime: a real cci shared library whose
// object table, results and counters tests set and read. It is to ccover what an
// in-memory environment is to a storage engine.
//
// Counters (allocations, monitor entries) are process-wide and updated with
// atomics, so tests may read them while other threads run handlers.
// Every function here is exported with C linkage next to the cci interface.
#ifndef CCOVER_RUNTIME_TESTING_CCI_TESTING_H_
#define CCOVER_RUNTIME_TESTING_CCI_TESTING_H_

#include <stdint.h>

#include "cci/cci.h"
#include "cci/records.h"

struct CciTestMethodSpec {
  uint32_t id;
  const char* name;       // null: "m<id>"
  const char* signature;  // null: "()V"
  uint16_t accessFlags;
  uint16_t lineCount;
  const uint16_t* lineNumbers;  // null with lineCount > 0: lines 1 .. lineCount
};

extern "C" {

// Drops the object table and the unregistered list (records are leaked on
// purpose: the agent may still point at them) and makes new ones with new
// monitors, clears the captured handler table, the call log and the settable
// results (initialized 1, build 2, pass-throughs 0; in a process without this
// control API the environment variables CCI_TEST_INITIALIZED and CCI_TEST_BUILD
// give the first two), and forgets every thread's stored storage pointer
// (qmiGetThreadLocalStorage yields null on every thread until the next store).
// Allocation, monitor and storage-read counters are not reset.
//
// The object table is QMHashNew(8, nullptr, nullptr, "IDToCObjects", 0), keyed
// by object ID with CObject* values; the unregistered list is QMNewVector(0).
// The runtime's own container blocks are not counted by cciTestLiveBlocks.
CCI_API void cciTestReset(void);

CCI_API void cciTestSetInitialized(jint value);
CCI_API void cciTestSetBuildNumber(jint value);
// Results of cciSuspendAllThreads, cciResumeAllThreads, cciRegisterAuditThread,
// cciWillProcessAuditRequest, cciDidProcessAuditRequest, and cciSetHandlers.
CCI_API void cciTestSetPassThroughResults(jint suspend, jint resume, jint registerAudit,
                                          jint willProcess, jint didProcess);
CCI_API void cciTestSetHandlersResult(jint value);

// Builds a class with its methods as cci hands them over: methods laid out
// one after another in the class's methods array, counters zero, hits and
// markedHits arrays of lineCount words (null without lines), one monitor per
// method (named "method<id>", not counted as an allocation), hasLines (some
// method has lines) and lineCount (their sum) from the methods. Registers the
// class and each method in the object table and pushes the class onto the
// unregistered list. loaded = 0 gives a class whose methods are not built
// (methodCount 0, methods null). The class is registered before its methods.
CCI_API CClass* cciTestAddClass(uint32_t id, const char* name, const char* sourceName,
                                uint16_t accessFlags, uint16_t loaded,
                                const CciTestMethodSpec* methods, int32_t methodCount);
// The same for an interface; its methods are registered as well.
CCI_API CInterface* cciTestAddInterface(uint32_t id, const char* name, const char* sourceName,
                                        uint16_t accessFlags, const CciTestMethodSpec* methods,
                                        int32_t methodCount);
// Registers any record under any type (for inconsistent tables). Not queued.
CCI_API CObject* cciTestAddObject(uint32_t id, uint32_t type, void* record);
CCI_API void cciTestPushUnregistered(CObject* object);
CCI_API CObject* cciTestObject(uint32_t id);  // null when absent; no move-to-front

// The handler table that cciSetHandlers received (null before), and its slots.
CCI_API void* cciTestHandlerTable(void);
CCI_API void* cciTestHandler(int32_t slot);

// Blocks obtained from sMalloc and not yet freed; all sMalloc calls so far.
// sFree of a block that sMalloc did not hand out (or freed twice) aborts.
CCI_API int64_t cciTestLiveBlocks(void);
CCI_API int64_t cciTestAllocations(void);
// Makes the nth sMalloc call from now (1: the next one) return null, once;
// 0 turns failure off.
CCI_API void cciTestFailAllocation(int64_t nth);
// Entries into one monitor, and into every monitor, so far.
CCI_API int64_t cciTestMonitorEntries(void* monitor);
CCI_API int64_t cciTestAllMonitorEntries(void);
// 1 while some thread holds the monitor.
CCI_API int32_t cciTestMonitorHeld(void* monitor);
// The monitor allocated under this name most recently (null when none).
CCI_API void* cciTestMonitorNamed(const char* name);
// Number of qmiGetThreadLocalStorage calls so far.
CCI_API int64_t cciTestStorageReads(void);

// Names of the interface calls made so far, separated by single blanks, in
// order. qmiMonitorAllocate is logged; monitor entries and exits, thread
// storage and memory are counted, not logged. The text stays valid until the
// next cciTestCallLog call.
CCI_API const char* cciTestCallLog(void);
CCI_API void cciTestClearCallLog(void);

}  // extern "C"

#endif  // CCOVER_RUNTIME_TESTING_CCI_TESTING_H_
