// Builds classes, interfaces and methods into the records cci hands over and
// registers them in the object table and the unregistered list.
//
// Records are never freed: the agent keeps raw pointers to them until the
// process ends. Insertion takes the table's or list's monitor without counting
// the entry, so that tests count only the agent's entries.
#include <stdio.h>
#include <string.h>

#include "runtime/testing/runtime_internal.h"
#include "support/hash_table.h"
#include "support/vector.h"

namespace cci_testing {
namespace {

struct Shared {
  QMHashTable* table;
  void* tableLock;
  QMVector* unregistered;
  void* unregisteredLock;
};

Shared shared() {
  RuntimeState& s = state();
  std::lock_guard<std::mutex> lock(stateMutex());
  return {s.idToCObjects, s.idToCObjectsLock, s.unregisteredClasses, s.unregisteredClassesLock};
}

CObject* registerObject(uint32_t id, uint32_t type, void* record) {
  CObject* object = static_cast<CObject*>(keepBlock(sizeof(CObject)));
  object->type = type;
  object->record = record;
  Shared s = shared();
  enterQuietly(s.tableLock);
  {
    InternalAllocation internal;
    QMHashPut(s.table, static_cast<QMHashWord>(id), reinterpret_cast<QMHashWord>(object));
  }
  exitQuietly(s.tableLock);
  return object;
}

void pushUnregistered(CObject* object) {
  Shared s = shared();
  enterQuietly(s.unregisteredLock);
  {
    InternalAllocation internal;
    QMAddElement(s.unregistered, object);
  }
  exitQuietly(s.unregisteredLock);
}

// Fills methods[0 .. count - 1] from their methodShapes; returns the sum of their line
// counts.
uint32_t buildMethods(CMethod* methods, uint32_t ownerId, const CciTestMethodSpec* methodShapes,
                      int32_t count) {
  uint32_t lines = 0;
  for (int32_t i = 0; i < count; i++) {
    const CciTestMethodSpec& methodShape = methodShapes[i];
    CMethod& m = methods[i];
    m.id = methodShape.id;
    m.classId = ownerId;
    if (methodShape.name != nullptr) {
      m.name = keepString(methodShape.name);
    } else {
      char generated[24];
      snprintf(generated, sizeof(generated), "m%u", static_cast<unsigned>(methodShape.id));
      m.name = keepString(generated);
    }
    m.signature = keepString(methodShape.signature != nullptr ? methodShape.signature : "()V");
    m.accessFlags = methodShape.accessFlags;
    m.lineCount = methodShape.lineCount;
    if (methodShape.lineCount > 0) {
      m.lineNumbers = static_cast<uint16_t*>(keepBlock(sizeof(uint16_t) * methodShape.lineCount));
      for (uint16_t slot = 0; slot < methodShape.lineCount; slot++) {
        m.lineNumbers[slot] = methodShape.lineNumbers != nullptr ? methodShape.lineNumbers[slot]
                                                                 : static_cast<uint16_t>(slot + 1);
      }
      m.hits = static_cast<uint32_t*>(keepBlock(sizeof(uint32_t) * methodShape.lineCount));
      m.markedHits = static_cast<uint32_t*>(keepBlock(sizeof(uint32_t) * methodShape.lineCount));
    }
    char lockName[40];
    snprintf(lockName, sizeof(lockName), "method%u", static_cast<unsigned>(methodShape.id));
    m.lock = allocateMonitor(lockName);
    lines += methodShape.lineCount;
  }
  return lines;
}

CMethod* newMethodArray(int32_t count) {
  return count > 0 ? static_cast<CMethod*>(keepBlock(sizeof(CMethod) * static_cast<size_t>(count)))
                   : nullptr;
}

}  // namespace
}  // namespace cci_testing

using namespace cci_testing;

extern "C" {

CCI_API CClass* cciTestAddClass(uint32_t id, const char* name, const char* sourceName,
                                uint16_t accessFlags, uint16_t loaded,
                                const CciTestMethodSpec* methods, int32_t methodCount) {
  CClass* c = static_cast<CClass*>(keepBlock(sizeof(CClass)));
  c->id = id;
  c->accessFlags = accessFlags;
  c->name = keepString(name);
  c->sourceName = keepString(sourceName);
  c->loaded = loaded;
  if (loaded != 0 && methodCount > 0) {
    c->methodCount = static_cast<uint16_t>(methodCount);
    c->methods = newMethodArray(methodCount);
    uint32_t lines = buildMethods(c->methods, id, methods, methodCount);
    c->lineCount = static_cast<uint16_t>(lines);
    c->hasLines = lines > 0 ? 1 : 0;
  }
  CObject* object = registerObject(id, kCObjectClass, c);
  for (int32_t i = 0; i < c->methodCount; i++) {
    registerObject(c->methods[i].id, kCObjectMethod, &c->methods[i]);
  }
  pushUnregistered(object);
  return c;
}

CCI_API CInterface* cciTestAddInterface(uint32_t id, const char* name, const char* sourceName,
                                        uint16_t accessFlags, const CciTestMethodSpec* methods,
                                        int32_t methodCount) {
  CInterface* c = static_cast<CInterface*>(keepBlock(sizeof(CInterface)));
  c->id = id;
  c->accessFlags = accessFlags;
  c->name = keepString(name);
  c->sourceName = keepString(sourceName);
  if (methodCount > 0) {
    c->methodCount = static_cast<uint16_t>(methodCount);
    c->methods = newMethodArray(methodCount);
    buildMethods(c->methods, id, methods, methodCount);
  }
  CObject* object = registerObject(id, kCObjectInterface, c);
  for (int32_t i = 0; i < c->methodCount; i++) {
    registerObject(c->methods[i].id, kCObjectMethod, &c->methods[i]);
  }
  pushUnregistered(object);
  return c;
}

CCI_API CObject* cciTestAddObject(uint32_t id, uint32_t type, void* record) {
  return registerObject(id, type, record);
}

CCI_API void cciTestPushUnregistered(CObject* object) { pushUnregistered(object); }

CCI_API CObject* cciTestObject(uint32_t id) {
  Shared s = shared();
  enterQuietly(s.tableLock);
  CObject* found = nullptr;
  if (s.table->buckets != nullptr) {
    QMHashEntry* e = s.table->buckets[QMHashBucketIndex(s.table, id)];
    for (; e != nullptr; e = e->next) {
      if (e->key == static_cast<QMHashWord>(id)) {
        found = reinterpret_cast<CObject*>(e->value);
        break;
      }
    }
  }
  exitQuietly(s.tableLock);
  return found;
}

}  // extern "C"
