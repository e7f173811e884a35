// Internals shared by the units of the testing runtime: the allocation mode of
// the runtime's own container work, the quiet monitor operations it uses on its
// own tables, and the process-wide state behind the control API.
//
// Thread-safety: state fields are guarded by stateMutex() unless noted.
#ifndef CCOVER_RUNTIME_TESTING_RUNTIME_INTERNAL_H_
#define CCOVER_RUNTIME_TESTING_RUNTIME_INTERNAL_H_

#include <stdint.h>

#include <mutex>
#include <string>
#include <vector>

#include "cci/cci.h"
#include "runtime/testing/cci_testing.h"

namespace cci_testing {

// While one of these lives on a thread, sMalloc hands out blocks that the
// runtime itself owns: they are counted neither as live blocks nor as
// allocations, and allocation failures are not injected into them. The
// runtime's table and list are built with the same container code as the agent,
// which allocates through sMalloc, so this keeps the counters about the agent.
class InternalAllocation {
 public:
  InternalAllocation();
  ~InternalAllocation();
  InternalAllocation(const InternalAllocation&) = delete;
  InternalAllocation& operator=(const InternalAllocation&) = delete;
};

// Monitor operations that do not count entries, for the runtime's own access
// to its table and list (tests count the agent's entries only).
void* allocateMonitor(const char* name);
void enterQuietly(void* monitor);
void exitQuietly(void* monitor);

// Appends one name to the call log.
void logCall(const char* name);

// Copies text into storage that lives until the process ends (null stays null).
char* keepString(const char* text);
// Zeroed storage that lives until the process ends; never counted as sMalloc.
void* keepBlock(size_t size);

struct RuntimeState {
  jint initialized;
  jint buildNumber;
  jint suspendResult;
  jint resumeResult;
  jint registerResult;
  jint willProcessResult;
  jint didProcessResult;
  jint setHandlersResult;
  void* handlerTable;
  QMHashTable* idToCObjects;
  void* idToCObjectsLock;
  QMVector* unregisteredClasses;
  void* unregisteredClassesLock;
  std::string callLog;
  std::string callLogCopy;  // what cciTestCallLog last returned
};

std::mutex& stateMutex();
// Created on first use, with the results read from the environment.
RuntimeState& state();

}  // namespace cci_testing

#endif  // CCOVER_RUNTIME_TESTING_RUNTIME_INTERNAL_H_
