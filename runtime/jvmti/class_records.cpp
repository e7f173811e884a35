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

// The texts of one description (class, source and method names, signatures)
// share one block, kept when the description is whole and freed when it is
// not: a block per text was two allocations per method at class load. Every
// text in the description has a two-byte length before it, so the
// description's own size holds them all with their terminating zeros.
struct Texts {
  char* block;
  size_t used;
  size_t size;

  char* take(size_t length) {
    if (block == nullptr) block = static_cast<char*>(zeroedBlock(size));
    char* text = block + used;
    used += length + 1;
    return text;
  }
  void freeAll() {
    free(block);
    block = nullptr;
  }
};

// Bounds-checked big-endian reads; any read past the end sets failed and
// yields zero, so a caller checks once at the end.
struct Decoder {
  const uint8_t* data;
  size_t size;
  size_t offset;
  bool failed;
  Texts* texts;

  bool take(size_t n) {
    if (failed || size - offset < n) {
      failed = true;
      return false;
    }
    return true;
  }
  uint32_t u1() {
    if (!take(1)) return 0;
    return data[offset++];
  }
  uint32_t u2() {
    if (!take(2)) return 0;
    uint32_t v = (static_cast<uint32_t>(data[offset]) << 8) | data[offset + 1];
    offset += 2;
    return v;
  }
  uint32_t u4() {
    if (!take(4)) return 0;
    uint32_t v = (static_cast<uint32_t>(data[offset]) << 24) |
                 (static_cast<uint32_t>(data[offset + 1]) << 16) |
                 (static_cast<uint32_t>(data[offset + 2]) << 8) | data[offset + 3];
    offset += 4;
    return v;
  }
  char* utf() {
    uint32_t length = u2();
    if (!take(length)) return nullptr;
    char* text = texts->take(length);
    memcpy(text, data + offset, length);
    text[length] = '\0';
    offset += length;
    return text;
  }
};

}  // namespace

void allocateRecordBlock(const std::vector<uint16_t>& slots, RecordBlock* out) {
  static_assert(sizeof(CMethod) % sizeof(uint32_t) == 0, "the counters follow the records");
  size_t total = 0;
  for (uint16_t n : slots) total += n;
  size_t size = sizeof(CMethod) * slots.size() + (2 * sizeof(uint32_t) + sizeof(uint16_t)) * total;
  out->slots = slots;
  if (slots.empty()) {
    out->methods = nullptr;
    out->counters = nullptr;
    return;
  }
  out->methods = static_cast<CMethod*>(zeroedBlock(size));
  out->counters = reinterpret_cast<uint32_t*>(out->methods + slots.size());
}

void freeRecordBlock(RecordBlock* block) {
  free(block->methods);
  block->methods = nullptr;
  block->counters = nullptr;
}

bool buildClassRecords(const uint8_t* data, size_t size, ClassRecords* out,
                       const RecordBlock* block) {
  Texts texts = {nullptr, 0, size};
  Decoder d = {data, size, 0, false, &texts};
  if (d.u1() != kDescriptionFormat) return false;
  uint32_t kind = d.u1();
  if (kind != kCObjectClass && kind != kCObjectInterface) return false;
  uint32_t classId = d.u4();
  uint16_t accessFlags = static_cast<uint16_t>(d.u2());
  char* name = d.utf();
  char* sourceName = d.u1() != 0 ? d.utf() : nullptr;
  uint16_t methodCount = static_cast<uint16_t>(d.u2());

  // The methods are read before their block is laid out, which needs their
  // slot counts; their source lines are copied from the description after.
  struct Described {
    uint32_t id;
    uint16_t accessFlags;
    char* name;
    char* signature;
    uint16_t slots;
    size_t linesAt;
  };
  std::vector<Described> described;
  if (!d.failed) described.reserve(methodCount);
  std::vector<uint16_t> slots;
  uint32_t lines = 0;
  for (uint16_t i = 0; i < methodCount && !d.failed; i++) {
    Described m;
    m.id = d.u4();
    m.accessFlags = static_cast<uint16_t>(d.u2());
    m.name = d.utf();
    m.signature = d.utf();
    m.slots = static_cast<uint16_t>(d.u2());
    m.linesAt = d.offset;
    if (d.failed || !d.take(2 * static_cast<size_t>(m.slots))) break;
    d.offset += 2 * static_cast<size_t>(m.slots);
    described.push_back(m);
    slots.push_back(m.slots);
    lines += m.slots;
  }
  bool fits = block == nullptr || block->slots.size() == methodCount;
  for (size_t i = 0; block != nullptr && fits && i < described.size(); i++) {
    fits = described[i].slots <= block->slots[i];
  }
  if (d.failed || d.offset != size || lines > 0xFFFF || !fits) {
    texts.freeAll();
    return false;
  }

  RecordBlock own;
  if (block == nullptr) {
    allocateRecordBlock(slots, &own);
    block = &own;
  }
  CMethod* methods = block->methods;
  size_t room = 0;
  for (uint16_t n : block->slots) room += n;
  uint32_t* hits = block->counters;
  uint32_t* markedHits = hits + room;
  uint16_t* lineNumbers = reinterpret_cast<uint16_t*>(markedHits + room);
  for (uint16_t i = 0; i < methodCount; i++) {
    const Described& from = described[i];
    CMethod& m = methods[i];
    m.id = from.id;
    m.classId = classId;
    m.accessFlags = from.accessFlags;
    m.name = from.name;
    m.signature = from.signature;
    m.lineCount = from.slots;
    if (from.slots > 0) {
      m.hits = hits;
      m.markedHits = markedHits;
      m.lineNumbers = lineNumbers;
      const uint8_t* at = data + from.linesAt;
      for (size_t s = 0; s < from.slots; s++) {
        lineNumbers[s] = static_cast<uint16_t>((at[2 * s] << 8) | at[2 * s + 1]);
      }
    }
    hits += block->slots[i];
    markedHits += block->slots[i];
    lineNumbers += block->slots[i];
  }
  // Monitors only for a whole description: they are never freed.
  // One block for the class's monitors, named only when a misuse message
  // needs it: a malloc and a formatted name per method were a fifth of what
  // building the records cost at start-up.
  if (methodCount > 0) {
    void* locks = newMonitorBlock("method", methodCount);
    for (uint16_t i = 0; i < methodCount; i++) {
      methods[i].lock = monitorInBlock(locks, i, methods[i].id);
    }
  }

  CObject* object = static_cast<CObject*>(zeroedBlock(sizeof(CObject)));
  object->type = kind;
  if (kind == kCObjectClass) {
    CClass* c = static_cast<CClass*>(zeroedBlock(sizeof(CClass)));
    c->id = classId;
    c->accessFlags = accessFlags;
    c->name = name;
    c->sourceName = sourceName;
    c->loaded = 1;
    c->methodCount = methodCount;
    c->methods = methods;
    c->lineCount = static_cast<uint16_t>(lines);
    c->hasLines = lines > 0 ? 1 : 0;
    object->record = c;
  } else {
    CInterface* c = static_cast<CInterface*>(zeroedBlock(sizeof(CInterface)));
    c->id = classId;
    c->accessFlags = accessFlags;
    c->name = name;
    c->sourceName = sourceName;
    c->methodCount = methodCount;
    c->methods = methods;
    object->record = c;
  }
  out->classObject = object;
  out->classId = classId;
  out->methodCount = methodCount;
  out->methods = methods;
  return true;
}

void registerClassRecords(const ClassRecords& records, QMHashTable* table, void* tableLock,
                          QMVector* unregistered, void* unregisteredLock) {
  // Method objects are allocated before the lock is taken: the lock is also
  // what the agent's handlers take on a cache miss.
  CObject* methodObjects =
      records.methodCount > 0
          ? static_cast<CObject*>(zeroedBlock(sizeof(CObject) * records.methodCount))
          : nullptr;
  for (uint16_t i = 0; i < records.methodCount; i++) {
    methodObjects[i].type = kCObjectMethod;
    methodObjects[i].record = &records.methods[i];
  }
  {
    MonitorLocker lock(tableLock);
    QMHashPut(table, static_cast<QMHashWord>(records.classId),
              reinterpret_cast<QMHashWord>(records.classObject));
    for (uint16_t i = 0; i < records.methodCount; i++) {
      QMHashPut(table, static_cast<QMHashWord>(records.methods[i].id),
                reinterpret_cast<QMHashWord>(&methodObjects[i]));
    }
  }
  MonitorLocker lock(unregisteredLock);
  QMAddElement(unregistered, records.classObject);
}

}  // namespace cci_jvmti
