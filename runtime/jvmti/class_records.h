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

#include "cci/records.h"

struct QMHashTable;
struct QMVector;

namespace cci_jvmti {

enum { kDescriptionFormat = 1 };

struct ClassRecords {
  CObject* classObject;  // type 2 or 3
  uint32_t classId;
  uint16_t methodCount;
  CMethod* methods;  // methodCount records, 48 bytes apart on 32-bit targets
};

// False when the description is truncated, malformed or has bytes left over;
// nothing is then allocated (what was taken is freed again). methodBlock, when
// given, is the zeroed array of the description's method records that inline
// probes already point at (see allocateMethodBlock); it stays the caller's on
// failure.
bool buildClassRecords(const uint8_t* data, size_t size, ClassRecords* out,
                       CMethod* methodBlock = nullptr);

// Puts the class and each method into the table under its lock, then the class
// onto the unregistered list under that list's lock.
void registerClassRecords(const ClassRecords& records, QMHashTable* table, void* tableLock,
                          QMVector* unregistered, void* unregisteredLock);

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_CLASS_RECORDS_H_
