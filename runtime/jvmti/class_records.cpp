#include "runtime/jvmti/class_records.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "runtime/jvmti/monitor.h"
#include "support/hash_table.h"
#include "support/vector.h"

namespace cci_jvmti {
namespace {

void* zeroedBlock(size_t size) {
  void* block = calloc(1, size == 0 ? 1 : size);
  if (block == nullptr) {
    fputs("cci: out of memory\n", stderr);
    abort();
  }
  return block;
}

// What a class's records need besides their block, in one zeroed allocation
// (a calloc each for the class's object, its record, its texts and its
// methods' objects were a third of building the records at start-up):
//   CClass or CInterface
//   CObject   the class's
//   CObject   methodObjects[methodCount]
//   char      texts: class name, source name, then each method's name and
//             descriptor, each ended by a zero
struct ClassBlock {
  uint8_t* record;
  CObject* classObject;
  CObject* methodObjects;
  char* texts;

  static_assert(sizeof(CClass) % alignof(CObject) == 0 &&
                    sizeof(CInterface) % alignof(CObject) == 0,
                "the objects follow the record");

  ClassBlock(const classfile::ClassOutline& outline, size_t recordSize) {
    size_t textSize = outline.name.size() + 1 + outline.sourceFile.size() + 1;
    for (const classfile::MethodOutline& m : outline.methods) {
      textSize += m.name.size() + 1 + m.descriptor.size() + 1;
    }
    size_t objects = sizeof(CObject) * (1 + outline.methods.size());
    record = static_cast<uint8_t*>(zeroedBlock(recordSize + objects + textSize));
    classObject = reinterpret_cast<CObject*>(record + recordSize);
    methodObjects = classObject + 1;
    texts = reinterpret_cast<char*>(record + recordSize + objects);
  }

  // The block is zeroed, so the terminator is already there.
  char* copy(std::string_view text) {
    char* start = texts;
    memcpy(start, text.data(), text.size());
    texts += text.size() + 1;
    return start;
  }
};

// For the slots out already holds.
void allocateForSlots(RecordBlock* out) {
  static_assert(sizeof(CMethod) % sizeof(uint32_t) == 0, "the counters follow the records");
  size_t total = 0;
  for (uint16_t n : out->slots) total += n;
  size_t count = out->slots.size();
  size_t size = sizeof(CMethod) * count + (2 * sizeof(uint32_t) + sizeof(uint16_t)) * total;
  if (count == 0) {
    out->methods = nullptr;
    out->counters = nullptr;
    return;
  }
  out->methods = static_cast<CMethod*>(zeroedBlock(size));
  out->counters = reinterpret_cast<uint32_t*>(out->methods + count);
}

}  // namespace

void allocateRecordBlock(const std::vector<uint16_t>& slots, RecordBlock* out) {
  out->slots = slots;
  allocateForSlots(out);
}

void allocateRecordBlock(const classfile::ClassOutline& outline, RecordBlock* out) {
  out->slots.resize(outline.methods.size());
  for (size_t i = 0; i < outline.methods.size(); i++) {
    out->slots[i] = static_cast<uint16_t>(outline.methods[i].lines.size());
  }
  allocateForSlots(out);
}

void freeRecordBlock(RecordBlock* block) {
  free(block->methods);
  block->methods = nullptr;
  block->counters = nullptr;
}

bool buildClassRecords(const classfile::ClassOutline& outline, uint32_t classId,
                       const RecordBlock& block, ClassRecords* out) {
  size_t methodCount = outline.methods.size();
  if (block.slots.size() != methodCount || methodCount > 0xFFFF) return false;
  size_t lines = 0;
  for (size_t i = 0; i < methodCount; i++) {
    size_t n = outline.methods[i].lines.size();
    if (n > block.slots[i]) return false;
    lines += n;
  }
  if (lines > 0xFFFF) return false;

  bool isInterface = (outline.accessFlags & classfile::kAccInterface) != 0;
  ClassBlock c(outline, isInterface ? sizeof(CInterface) : sizeof(CClass));
  char* name = c.copy(outline.name);
  char* sourceName = outline.hasSourceFile ? c.copy(outline.sourceFile) : nullptr;
  CMethod* methods = block.methods;
  size_t room = 0;
  for (uint16_t n : block.slots) room += n;
  uint32_t* hits = block.counters;
  uint32_t* markedHits = hits + room;
  uint16_t* lineNumbers = reinterpret_cast<uint16_t*>(markedHits + room);
  // Monitors only once nothing can fail: they are never freed. One block for
  // the class's monitors, named only when a misuse message needs it: a malloc
  // and a formatted name per method were a fifth of what building the records
  // cost at start-up.
  void* locks = methodCount > 0 ? newMonitorBlock("method", methodCount) : nullptr;
  for (size_t i = 0; i < methodCount; i++) {
    const classfile::MethodOutline& from = outline.methods[i];
    CMethod& m = methods[i];
    m.id = classId + 1 + static_cast<uint32_t>(i);
    m.classId = classId;
    m.accessFlags = from.accessFlags;
    m.name = c.copy(from.name);
    m.signature = c.copy(from.descriptor);
    m.lineCount = static_cast<uint16_t>(from.lines.size());
    if (m.lineCount > 0) {
      m.hits = hits;
      m.markedHits = markedHits;
      m.lineNumbers = lineNumbers;
      memcpy(lineNumbers, from.lines.data(), sizeof(uint16_t) * m.lineCount);
    }
    switch (from.outcome) {
      case classfile::MethodOutcome::kCounted:
        break;
      case classfile::MethodOutcome::kEntryOnly:
        m.uncounted = kUncountedLines;
        break;
      case classfile::MethodOutcome::kNotInstrumented:
        m.uncounted = kUncountedMethod;
        break;
    }
    m.lock = monitorInBlock(locks, i, m.id);
    c.methodObjects[i].type = kCObjectMethod;
    c.methodObjects[i].record = &m;
    hits += block.slots[i];
    markedHits += block.slots[i];
    lineNumbers += block.slots[i];
  }

  if (isInterface) {
    CInterface* r = reinterpret_cast<CInterface*>(c.record);
    r->id = classId;
    r->accessFlags = outline.accessFlags;
    r->name = name;
    r->sourceName = sourceName;
    r->methodCount = static_cast<uint16_t>(methodCount);
    r->methods = methods;
  } else {
    CClass* r = reinterpret_cast<CClass*>(c.record);
    r->id = classId;
    r->accessFlags = outline.accessFlags;
    r->name = name;
    r->sourceName = sourceName;
    r->loaded = 1;
    r->methodCount = static_cast<uint16_t>(methodCount);
    r->methods = methods;
    r->lineCount = static_cast<uint16_t>(lines);
    r->hasLines = lines > 0 ? 1 : 0;
  }
  c.classObject->type = isInterface ? kCObjectInterface : kCObjectClass;
  c.classObject->record = c.record;
  out->classObject = c.classObject;
  out->classId = classId;
  out->methodCount = static_cast<uint16_t>(methodCount);
  out->methods = methods;
  out->methodObjects = c.methodObjects;
  return true;
}

void registerClassRecords(const ClassRecords& records, QMHashTable* table, void* tableLock,
                          QMVector* unregistered, void* unregisteredLock) {
  // Nothing is allocated under the lock: it is also what the agent's handlers
  // take on a cache miss.
  {
    MonitorLocker lock(tableLock);
    QMHashPut(table, static_cast<QMHashWord>(records.classId),
              reinterpret_cast<QMHashWord>(records.classObject));
    for (uint16_t i = 0; i < records.methodCount; i++) {
      QMHashPut(table, static_cast<QMHashWord>(records.methods[i].id),
                reinterpret_cast<QMHashWord>(&records.methodObjects[i]));
    }
  }
  MonitorLocker lock(unregisteredLock);
  QMAddElement(unregistered, records.classObject);
}

}  // namespace cci_jvmti
