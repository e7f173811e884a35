#include "model/update_cycle.h"

#include <stdio.h>
#include <string.h>

#include "agent/state.h"
#include "model/object_table.h"
#include "runtime/cci.h"
#include "support/fatal.h"
#include "support/hash_table.h"
#include "support/vector.h"

uint16_t fixedPointFraction(uint32_t n, uint32_t d) {
  // Divide first, then scale: the quotient is rounded to double before the
  // multiplication, which is what makes 57 of 100 give 5699.
  double quotient = static_cast<double>(n) / static_cast<double>(d);
  return static_cast<uint16_t>(static_cast<int32_t>(quotient * 10000.0));
}

void countLineSlots(const CMethod* method, uint32_t* executed, uint32_t* atMark,
                    uint32_t* changed) {
  if (method == nullptr || method->lineCount == 0 || method->hits == nullptr) return;
  const uint32_t* marked = method->markedHits;
  for (uint32_t k = 0; k < method->lineCount; k++) {
    uint32_t hits = loadRelaxed(method->hits[k]);
    uint32_t markedHits = marked != nullptr ? loadRelaxed(marked[k]) : 0;
    if (hits != 0) (*executed)++;
    if (atMark != nullptr && markedHits != 0) (*atMark)++;
    if (changed != nullptr && hits != markedHits) (*changed)++;
  }
}

void computeClassFigures(CClass* cls) {
  uint32_t slots = 0, executed = 0, atMark = 0, changed = 0;
  uint32_t invoked = 0, invokedAtMark = 0, invokedSinceMark = 0;
  CMethod* methods = cls->methods;
  uint32_t methodCount = methods != nullptr ? cls->methodCount : 0;
  for (uint32_t i = 0; i < methodCount; i++) {
    CMethod* m = &methods[i];
    if (m->lineCount > 0) {
      slots += m->lineCount;
      countLineSlots(m, &executed, &atMark, &changed);
    } else {
      uint32_t invocations = loadRelaxed(m->invocations);
      uint32_t markedInvocations = loadRelaxed(m->markedInvocations);
      if (invocations != 0) invoked++;
      if (invocations > markedInvocations) invokedSinceMark++;
      if (markedInvocations != 0) invokedAtMark++;
    }
    storeRelaxed<uint8_t>(m->touched, 0);
  }
  // Figures are written with relaxed stores: an answer or a mark on another Java
  // thread may read or write the same class at the same time.
  if (slots > 0) {
    storeRelaxed(cls->coverage, fixedPointFraction(executed, slots));
    storeRelaxed(cls->coverageAtMark, fixedPointFraction(atMark, slots));
    storeRelaxed(cls->coverageSinceMark, fixedPointFraction(changed, slots));
    storeRelaxed(cls->missedLines, static_cast<int32_t>(slots - executed));
    storeRelaxed(cls->missedLinesSinceMark, static_cast<int32_t>(slots - changed));
  } else if (methodCount > 0) {
    storeRelaxed(cls->coverage, fixedPointFraction(invoked, methodCount));
    storeRelaxed(cls->coverageAtMark, fixedPointFraction(invokedAtMark, methodCount));
    storeRelaxed(cls->coverageSinceMark, fixedPointFraction(invokedSinceMark, methodCount));
  }
}

ClassList* updateClassesById(const uint32_t* ids, int32_t n) {
  ClassList* list = static_cast<ClassList*>(sMalloc(sizeof(ClassList)));
  size_t room = n > 0 ? static_cast<size_t>(n) : 1;
  list->items = static_cast<CClass**>(sMalloc(sizeof(*list->items) * room));
  list->count = 0;
  for (int32_t i = 0; i < n; i++) {
    uint32_t id = ids[i];
    qmiMonitorEnter(agentState.idToCObjectsLock);
    CObject* object = lookupObjectLocked(id);
    if (object == nullptr) {
      printf("CC_C: Class %d from updated classes not found\n", static_cast<int>(id));
      printClasses(false);
      fatalExitQuiet();
    }
    if (object->type == kCObjectClass) {
      CClass* cls = static_cast<CClass*>(object->record);
      list->items[list->count] = cls;
      qmiMonitorExit(agentState.idToCObjectsLock);
      computeClassFigures(cls);
      list->count++;
    } else if (object->type == kCObjectInterface) {
      qmiMonitorExit(agentState.idToCObjectsLock);
    } else {
      fprintf(stderr, "CC_C: Inconsistency update class, object id %d type %d.\n",
              static_cast<int>(id), static_cast<int>(object->type));
      qmiMonitorExit(agentState.idToCObjectsLock);
      fatalExitQuiet();
    }
  }
  return list;
}

ClassList* updateTouchedClasses() {
  int32_t n = 0;
  uint32_t* ids = drainTouchedClasses(&n);
  ClassList* list = updateClassesById(ids, n);
  if (ids != nullptr) sFree(ids);
  return list;
}

void freeClassList(ClassList* list) {
  if (list == nullptr) return;
  sFree(list->items);
  sFree(list);
}

void markClasses() {
  freeClassList(updateTouchedClasses());
  qmiMonitorEnter(agentState.idToCObjectsLock);
  QMHashIterator* it = QMHashIterate(agentState.idToCObjects);
  while ((it = QMHashNext(it)) != nullptr) {
    CObject* object = reinterpret_cast<CObject*>(it->value);
    if (object == nullptr) continue;
    if (object->type == kCObjectClass) {
      CClass* cls = static_cast<CClass*>(object->record);
      if (cls->loaded == 0) continue;
      storeRelaxed(cls->coverageAtMark, loadRelaxed(cls->coverage));
      storeRelaxed<uint16_t>(cls->coverageSinceMark, 0);
      storeRelaxed<int32_t>(cls->missedLinesSinceMark, cls->lineCount);
      noteTouchedClass(cls->id);
    } else if (object->type == kCObjectMethod) {
      CMethod* m = static_cast<CMethod*>(object->record);
      if (m->lineNumbers != nullptr && m->hits != nullptr && m->markedHits != nullptr) {
        for (uint32_t k = 0; k < m->lineCount; k++) {
          storeRelaxed(m->markedHits[k], loadRelaxed(m->hits[k]));
        }
      }
      storeRelaxed(m->markedInvocations, loadRelaxed(m->invocations));
      storeRelaxed<uint8_t>(m->touched, 1);
    }
  }
  qmiMonitorExit(agentState.idToCObjectsLock);
}

void detachClasses() {
  QMVector* classes = QMNewVector(100);
  qmiMonitorEnter(agentState.idToCObjectsLock);
  QMHashIterator* it = QMHashIterate(agentState.idToCObjects);
  while ((it = QMHashNext(it)) != nullptr) {
    CObject* object = reinterpret_cast<CObject*>(it->value);
    if (object != nullptr && object->type == kCObjectClass) QMAddElement(classes, object);
  }
  qmiMonitorExit(agentState.idToCObjectsLock);
  qmiMonitorEnter(agentState.unregisteredClassesLock);
  for (int32_t i = 0; i < QMSize(classes); i++) {
    QMAddElement(agentState.unregisteredClasses, QMElementAt(classes, i));
  }
  qmiMonitorExit(agentState.unregisteredClassesLock);
  QMFreeVector(classes);
}

void printClasses(bool verbose) {
  QMHashTable* table = agentState.idToCObjects;
  printf("printClasses() %d objects in IDToCObjects %d\n", static_cast<int>(QMHashCount(table)),
         static_cast<int>(reinterpret_cast<intptr_t>(table)));
  qmiMonitorEnter(agentState.idToCObjectsLock);
  QMHashIterator* it = QMHashIterate(table);
  while ((it = QMHashNext(it)) != nullptr) {
    CObject* object = reinterpret_cast<CObject*>(it->value);
    if (object != nullptr && object->type == kCObjectClass) {
      CClass* cls = static_cast<CClass*>(object->record);
      printf("** Class %s %d***\n", cls->name, static_cast<int>(cls->id));
    } else if (object != nullptr && object->type == kCObjectMethod) {
      if (verbose) printf("** Method %s ***\n", static_cast<CMethod*>(object->record)->name);
    } else if (verbose) {
      printf("Unknow CObjects\n");
    }
  }
  qmiMonitorExit(agentState.idToCObjectsLock);
}
