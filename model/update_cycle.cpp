#include "model/update_cycle.h"

#include <stdio.h>
#include <string.h>

#include "cci/cci.h"
#include "model/figures.h"
#include "model/object_table.h"
#include "support/fatal.h"
#include "support/hash_table.h"
#include "support/vector.h"

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
  ClassCounts counts;
  CMethod* methods = cls->methods;
  counts.methods = methods != nullptr ? cls->methodCount : 0;
  for (uint32_t i = 0; i < counts.methods; i++) {
    CMethod* m = &methods[i];
    if (m->lineCount > 0) {
      counts.slots += m->lineCount;
      countLineSlots(m, &counts.executed, &counts.atMark, &counts.changed);
    } else {
      countSlotlessMethod(loadRelaxed(m->invocations), loadRelaxed(m->markedInvocations), &counts);
    }
    storeRelaxed<uint8_t>(m->touched, 0);
  }
  // Figures are written with relaxed stores: an answer or a mark on another Java
  // thread may read or write the same class at the same time.
  ClassFigures f;
  FigureBasis basis = classFigures(counts, &f);
  if (basis == kFiguresNone) return;
  storeRelaxed(cls->coverage, f.coverage);
  storeRelaxed(cls->coverageAtMark, f.coverageAtMark);
  storeRelaxed(cls->coverageSinceMark, f.coverageSinceMark);
  if (basis == kFiguresSlots) {
    storeRelaxed(cls->missedLines, f.missedLines);
    storeRelaxed(cls->missedLinesSinceMark, f.missedLinesSinceMark);
  }
}

ClassList* updateClassesById(const uint32_t* ids, int32_t n) {
  ClassList* list = static_cast<ClassList*>(sMalloc(sizeof(ClassList)));
  size_t room = n > 0 ? static_cast<size_t>(n) : 1;
  // An array of pointers, sized by its element.
  // NOLINTNEXTLINE(bugprone-sizeof-expression)
  list->items = static_cast<CClass**>(sMalloc(sizeof(*list->items) * room));
  list->count = 0;
  for (int32_t i = 0; i < n; i++) {
    uint32_t id = ids[i];
    qmiMonitorEnter(objectTables.idToCObjectsLock);
    CObject* object = lookupObjectLocked(id);
    if (object == nullptr) {
      printf("CC_C: Class %d from updated classes not found\n", static_cast<int>(id));
      printClasses(false);
      fatalExitQuiet();
    }
    if (object->type == kCObjectClass) {
      CClass* cls = static_cast<CClass*>(object->record);
      list->items[list->count] = cls;
      qmiMonitorExit(objectTables.idToCObjectsLock);
      computeClassFigures(cls);
      list->count++;
    } else if (object->type == kCObjectInterface) {
      qmiMonitorExit(objectTables.idToCObjectsLock);
    } else {
      fprintf(stderr, "CC_C: Inconsistency update class, object id %d type %d.\n",
              static_cast<int>(id), static_cast<int>(object->type));
      qmiMonitorExit(objectTables.idToCObjectsLock);
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
  qmiMonitorEnter(objectTables.idToCObjectsLock);
  QMHashIterator* it = QMHashIterate(objectTables.idToCObjects);
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
  qmiMonitorExit(objectTables.idToCObjectsLock);
}

void detachClasses() {
  QMVector* classes = QMNewVector(100);
  qmiMonitorEnter(objectTables.idToCObjectsLock);
  QMHashIterator* it = QMHashIterate(objectTables.idToCObjects);
  while ((it = QMHashNext(it)) != nullptr) {
    CObject* object = reinterpret_cast<CObject*>(it->value);
    if (object != nullptr && object->type == kCObjectClass) QMAddElement(classes, object);
  }
  qmiMonitorExit(objectTables.idToCObjectsLock);
  qmiMonitorEnter(objectTables.unregisteredClassesLock);
  for (int32_t i = 0; i < QMSize(classes); i++) {
    QMAddElement(objectTables.unregisteredClasses, QMElementAt(classes, i));
  }
  qmiMonitorExit(objectTables.unregisteredClassesLock);
  QMFreeVector(classes);
}

void printClasses(bool verbose) {
  QMHashTable* table = objectTables.idToCObjects;
  printf("printClasses() %d objects in IDToCObjects %d\n", static_cast<int>(QMHashCount(table)),
         static_cast<int>(reinterpret_cast<intptr_t>(table)));
  qmiMonitorEnter(objectTables.idToCObjectsLock);
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
  qmiMonitorExit(objectTables.idToCObjectsLock);
}
