#include <stdio.h>

#include "answers/answer_table.h"
#include "answers/answers.h"
#include "cci/cci.h"
#include "model/object_table.h"
#include "support/vector.h"

namespace {

jobject methodIdVector(JNIEnv* env, const CMethod* methods, uint32_t count) {
  jobject vector = newAnswerVector(env);
  if (methods == nullptr) return vector;
  for (uint32_t i = 0; i < count; i++) addInt(env, vector, static_cast<int32_t>(methods[i].id));
  return vector;
}

void describeClass(JNIEnv* env, jobject table, const CClass* cls) {
  jobject inner = newAnswerTable(env);
  if (cls->loaded == 0) {
    putText(env, inner, "n", cls->name);
    putText(env, inner, "u", "1");
  } else {
    jobject methods = methodIdVector(env, cls->methods, cls->methodCount);
    putText(env, inner, "n", cls->name);
    if (cls->sourceName != nullptr) putText(env, inner, "s", cls->sourceName);
    putInt(env, inner, "f", cls->accessFlags);
    putObject(env, inner, "m", methods);
    putInt(env, inner, "l", cls->lineCount);
  }
  putObjectById(env, table, cls->id, inner);
}

void describeInterface(JNIEnv* env, jobject table, const CInterface* iface) {
  jobject inner = newAnswerTable(env);
  jobject methods = methodIdVector(env, iface->methods, iface->methodCount);
  putText(env, inner, "n", iface->name);
  if (iface->sourceName != nullptr) putText(env, inner, "s", iface->sourceName);
  putInt(env, inner, "f", iface->accessFlags);
  putObject(env, inner, "m", methods);
  putObjectById(env, table, iface->id, inner);
}

}  // namespace

jboolean hasNewClasses() {
  qmiMonitorEnter(objectTables.unregisteredClassesLock);
  int32_t count = QMSize(objectTables.unregisteredClasses);
  qmiMonitorExit(objectTables.unregisteredClassesLock);
  return count > 0 ? JNI_TRUE : JNI_FALSE;
}

void fillClassInfoAnswer(JNIEnv* env, jobject table) {
  if (table == nullptr) return;
  qmiMonitorEnter(objectTables.unregisteredClassesLock);
  int32_t count = QMSize(objectTables.unregisteredClasses);
  if (count <= 0) {
    qmiMonitorExit(objectTables.unregisteredClassesLock);
    return;
  }
  int32_t taken = count < kClassInfoBatch ? count : kClassInfoBatch;
  CObject** entries = nullptr;
  // An array of pointers, sized by its element.
  // NOLINTNEXTLINE(bugprone-sizeof-expression)
  entries = static_cast<CObject**>(sMalloc(sizeof(*entries) * static_cast<size_t>(taken)));
  for (int32_t i = 0; i < taken; i++) {
    entries[i] = static_cast<CObject*>(QMRemoveLastElement(objectTables.unregisteredClasses));
  }
  qmiMonitorExit(objectTables.unregisteredClassesLock);

  for (int32_t i = 0; i < taken; i++) {
    CObject* object = entries[i];
    if (object == nullptr) continue;
    if (object->type == kCObjectClass) {
      describeClass(env, table, static_cast<CClass*>(object->record));
    } else if (object->type == kCObjectInterface) {
      describeInterface(env, table, static_cast<CInterface*>(object->record));
    } else {
      fprintf(stderr, "CC_C : unexpected type %d, ignored.\n", static_cast<int>(object->type));
    }
  }
  sFree(entries);
}
