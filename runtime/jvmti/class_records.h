// Builds the records of one instrumented class from classfile's outline of
// it, and registers them in the object table and the unregistered list.
//
// Records are allocated here and never freed: the agent keeps raw pointers to
// them until the process ends. Their agent-written fields start at zero.
//
// Thread-safety: buildClassRecords touches only what it allocates;
// registerClassRecords takes the table's and the list's monitors in turn,
// never both at once.
#ifndef CCOVER_RUNTIME_JVMTI_CLASS_RECORDS_H_
#define CCOVER_RUNTIME_JVMTI_CLASS_RECORDS_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "cci/records.h"
#include "classfile/instrument.h"

struct QMHashTable;
struct QMVector;

namespace cci_jvmti {

// A class's method records and the arrays they point at, in one zeroed
// allocation, so that an inline probe addresses its method's touched flag and
// its slot's counter as constants:
//   CMethod   methods[methodCount]
//   uint32_t  hits[slots]           the counters: counters == methods + methodCount
//   uint32_t  markedHits[slots]
//   uint16_t  lineNumbers[slots]
// Each method's arrays start at its first slot, the sum of the slots of the
// methods before it; a method without slots keeps null pointers. Never freed
// once its class is registered.
struct RecordBlock {
  CMethod* methods = nullptr;
  uint32_t* counters = nullptr;
  std::vector<uint16_t> slots;  // room per method
};

// Lays out and allocates the block for methods with these slot counts.
void allocateRecordBlock(const std::vector<uint16_t>& slots, RecordBlock* out);

// The block for the outline's methods, each with room for its lines; out's
// slot vector keeps its capacity.
void allocateRecordBlock(const classfile::ClassOutline& outline, RecordBlock* out);

// For a class that is left as it was after all.
void freeRecordBlock(RecordBlock* block);

struct ClassRecords {
  CObject* classObject;  // type 2 or 3
  uint32_t classId;
  uint16_t methodCount;
  CMethod* methods;        // methodCount records, 48 bytes apart on 32-bit targets
  CObject* methodObjects;  // their entries in the object table, type 4
};

// The class gets ID classId, its method i classId + 1 + i; a method the
// outline says was left uncounted is recorded so (CMethod::uncounted). The
// records take block for their own: the one that inline probes already point
// at, or one allocated for the outline. False when the block has no room for
// some method's lines or the class more than 65535 of them; nothing is then
// allocated, and the block stays the caller's.
bool buildClassRecords(const classfile::ClassOutline& outline, uint32_t classId,
                       const RecordBlock& block, ClassRecords* out);

// Puts the class and each method into the table under its lock, then the class
// onto the unregistered list under that list's lock.
void registerClassRecords(const ClassRecords& records, QMHashTable* table, void* tableLock,
                          QMVector* unregistered, void* unregisteredLock);

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_CLASS_RECORDS_H_
