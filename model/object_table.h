// Access to cci's object table and the agent's set of classes to update, with
// the locking rules that every user follows:
// - the object table's lock is held for each lookup (a lookup may reorder a
//   chain) and for the whole of each walk;
// - updatedClassLock is held for each add and for the drain;
// - the object table's lock may be held while updatedClassLock is entered,
//   never the other way round.
#ifndef CCOVER_MODEL_OBJECT_TABLE_H_
#define CCOVER_MODEL_OBJECT_TABLE_H_

#include <stdint.h>

#include "cci/records.h"

struct QMHashTable;
struct QMVector;

// cci's object table and unregistered-class list with their locks, handed over
// at start, and the agent's own set of class IDs whose figures are out of date.
// Set once by bindObjectTables, before any handler is registered; read without
// a lock afterwards.
struct ObjectTables {
  QMHashTable* idToCObjects;
  void* idToCObjectsLock;
  QMVector* unregisteredClasses;
  void* unregisteredClassesLock;
  QMVector* updatedClasses;
  void* updatedClassLock;
};

extern ObjectTables objectTables;

// Takes over cci's table and list with their locks, and creates updatedClasses
// and updatedClassLock.
void bindObjectTables();

// The CObject registered under id, or null. Takes and leaves the table's lock.
CObject* lookupObject(uint32_t id);
// Same, for a caller that already holds the table's lock.
CObject* lookupObjectLocked(uint32_t id);

// Adds classId to updatedClasses unless it is there already.
void noteTouchedClass(uint32_t classId);

// Empties updatedClasses into a new array (from sMalloc, freed by the caller),
// the ID added last first. *count receives the number of IDs; the array is null
// when there are none.
uint32_t* drainTouchedClasses(int32_t* count);

#endif  // CCOVER_MODEL_OBJECT_TABLE_H_
