#include "model/object_table.h"

#include "cci/cci.h"
#include "support/hash_table.h"
#include "support/vector.h"

ObjectTables objectTables;

void bindObjectTables() {
  ObjectTables& t = objectTables;
  t.idToCObjects = cciGetCObjectsByID();
  t.idToCObjectsLock = cciGetCObjectsByIDLock();
  t.unregisteredClasses = cciGetUnregisteredClasses();
  t.unregisteredClassesLock = cciGetUnregisteredClassesLock();
  t.updatedClasses = QMNewVector(100);
  t.updatedClassLock = qmiMonitorAllocate("updatedClassLock");
}

CObject* lookupObjectLocked(uint32_t id) {
  return reinterpret_cast<CObject*>(QMHashGet(objectTables.idToCObjects, id));
}

CObject* lookupObject(uint32_t id) {
  qmiMonitorEnter(objectTables.idToCObjectsLock);
  CObject* object = lookupObjectLocked(id);
  qmiMonitorExit(objectTables.idToCObjectsLock);
  return object;
}

void noteTouchedClass(uint32_t classId) {
  void* item = reinterpret_cast<void*>(static_cast<uintptr_t>(classId));
  qmiMonitorEnter(objectTables.updatedClassLock);
  if (!QMContains(objectTables.updatedClasses, item))
    QMAddElement(objectTables.updatedClasses, item);
  qmiMonitorExit(objectTables.updatedClassLock);
}

uint32_t* drainTouchedClasses(int32_t* count) {
  qmiMonitorEnter(objectTables.updatedClassLock);
  int32_t n = QMSize(objectTables.updatedClasses);
  uint32_t* ids = nullptr;
  if (n > 0) {
    ids = static_cast<uint32_t*>(sMalloc(sizeof(uint32_t) * static_cast<size_t>(n)));
    for (int32_t i = 0; i < n; i++) {
      ids[i] = static_cast<uint32_t>(
          reinterpret_cast<uintptr_t>(QMRemoveLastElement(objectTables.updatedClasses)));
    }
  }
  qmiMonitorExit(objectTables.updatedClassLock);
  *count = n;
  return ids;
}
