#include "model/object_table.h"

#include "agent/state.h"
#include "runtime/cci.h"
#include "support/hash_table.h"
#include "support/vector.h"

CObject* lookupObjectLocked(uint32_t id) {
  return reinterpret_cast<CObject*>(QMHashGet(agentState.idToCObjects, id));
}

CObject* lookupObject(uint32_t id) {
  qmiMonitorEnter(agentState.idToCObjectsLock);
  CObject* object = lookupObjectLocked(id);
  qmiMonitorExit(agentState.idToCObjectsLock);
  return object;
}

void noteTouchedClass(uint32_t classId) {
  void* item = reinterpret_cast<void*>(static_cast<uintptr_t>(classId));
  qmiMonitorEnter(agentState.updatedClassLock);
  if (!QMContains(agentState.updatedClasses, item)) QMAddElement(agentState.updatedClasses, item);
  qmiMonitorExit(agentState.updatedClassLock);
}

uint32_t* drainTouchedClasses(int32_t* count) {
  qmiMonitorEnter(agentState.updatedClassLock);
  int32_t n = QMSize(agentState.updatedClasses);
  uint32_t* ids = nullptr;
  if (n > 0) {
    ids = static_cast<uint32_t*>(sMalloc(sizeof(uint32_t) * static_cast<size_t>(n)));
    for (int32_t i = 0; i < n; i++) {
      ids[i] = static_cast<uint32_t>(
          reinterpret_cast<uintptr_t>(QMRemoveLastElement(agentState.updatedClasses)));
    }
  }
  qmiMonitorExit(agentState.updatedClassLock);
  *count = n;
  return ids;
}
