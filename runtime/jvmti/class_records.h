// Builds the records of one instrumented class from the description that the
// class hook writes from classfile's outline of the class, and registers them in the
// object table and the unregistered list.
//
// The description, big-endian as java.io.DataOutputStream writes it:
//   u1  format (1)
//   u1  kind: 2 class, 3 interface
//   i4  class object ID
//   u2  access flags
//   utf name (internal form)           utf = u2 length, then modified UTF-8 bytes
//   u1  1 when a source file name follows, else 0
//   utf source file name (when present)
//   u2  method count
//   per method:
//     i4  method object ID
//     u2  access flags (0x20: synchronized)
//     utf name
//     utf descriptor
//     u2  line slot count
//     u2  source line of each slot
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

struct QMHashTable;
struct QMVector;

namespace cci_jvmti {

enum { kDescriptionFormat = 1 };

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

// For a class that is left as it was after all.
void freeRecordBlock(RecordBlock* block);

struct ClassRecords {
  CObject* classObject;  // type 2 or 3
  uint32_t classId;
  uint16_t methodCount;
  CMethod* methods;  // methodCount records, 48 bytes apart on 32-bit targets
};

// False when the description is truncated, malformed or has bytes left over;
// nothing is then allocated (what was taken is freed again). block, when
// given, is the one that inline probes already point at: it must have room
// for every method's slots, or the description is refused, and it stays the
// caller's on failure. Without it the records get a block of their own.
bool buildClassRecords(const uint8_t* data, size_t size, ClassRecords* out,
                       const RecordBlock* block = nullptr);

// Puts the class and each method into the table under its lock, then the class
// onto the unregistered list under that list's lock.
void registerClassRecords(const ClassRecords& records, QMHashTable* table, void* tableLock,
                          QMVector* unregistered, void* unregisteredLock);

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_CLASS_RECORDS_H_
