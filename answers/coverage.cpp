#include <stdio.h>

#include <atomic>

#include "answers/answer_table.h"
#include "answers/answers.h"
#include "cci/cci.h"
#include "model/object_table.h"
#include "model/update_cycle.h"
#include "snapshot/format.h"
#include "support/fatal.h"

namespace {

std::atomic<CClass*> lastClass{nullptr};

void fillClassCoverage(JNIEnv* env, const ClassList* list, jobject table) {
  for (int32_t i = 0; i < list->count; i++) {
    const CClass* cls = list->items[i];
    jobject inner = newAnswerTable(env);
    putInt(env, inner, snapkey::kCoverage, loadRelaxed(cls->coverage));
    putInt(env, inner, snapkey::kCoverageSinceMark, loadRelaxed(cls->coverageSinceMark));
    putInt(env, inner, snapkey::kCoverageAtMark, loadRelaxed(cls->coverageAtMark));
    if (cls->hasLines != 0) {
      putInt(env, inner, snapkey::kMissedLines, loadRelaxed(cls->missedLines));
      putInt(env, inner, snapkey::kMissedLinesSinceMark, loadRelaxed(cls->missedLinesSinceMark));
    }
    putObjectById(env, table, cls->id, inner);
  }
}

double percentOf(uint32_t part, uint32_t whole) {
  return static_cast<double>(part) / static_cast<double>(whole) * 100.0;
}

void putMethodCoverage(JNIEnv* env, CMethod* method, jobject inner) {
  putInt(env, inner, snapkey::kInvocations, static_cast<int32_t>(loadRelaxed(method->invocations)));
  putInt(env, inner, snapkey::kMarkedInvocations,
         static_cast<int32_t>(loadRelaxed(method->markedInvocations)));
  uint32_t lineCount = method->lineCount;
  if (lineCount == 0) return;
  uint32_t executed = 0, changed = 0;
  countLineSlots(method, &executed, nullptr, &changed);
  char text[64];
  formatPercent(percentOf(executed, lineCount), text, sizeof(text));
  putText(env, inner, snapkey::kCoverage, text);
  formatPercent(percentOf(changed, lineCount), text, sizeof(text));
  putText(env, inner, snapkey::kCoverageSinceMark, text);
  putInt(env, inner, snapkey::kMissedLines, static_cast<int32_t>(lineCount - executed));
  putInt(env, inner, snapkey::kMissedLinesSinceMark, static_cast<int32_t>(lineCount - changed));
  jobject hits = newAnswerVector(env);
  jobject marked = newAnswerVector(env);
  for (uint32_t k = 0; k < lineCount; k++) {
    uint32_t h = method->hits != nullptr ? loadRelaxed(method->hits[k]) : 0;
    uint32_t m = method->markedHits != nullptr ? loadRelaxed(method->markedHits[k]) : 0;
    addInt(env, hits, static_cast<int32_t>(h));
    addInt(env, marked, static_cast<int32_t>(m));
  }
  putObject(env, inner, "cpl", hits);
  putObject(env, inner, "cplm", marked);
}

void putMethodInfo(JNIEnv* env, const CMethod* method, jobject inner) {
  putText(env, inner, snapkey::kName, method->name);
  putText(env, inner, snapkey::kSignatureText, method->signature);
  putInt(env, inner, snapkey::kClassId, static_cast<int32_t>(method->classId));
  if (method->lineCount == 0) return;
  jobject lines = newAnswerVector(env);
  for (uint32_t k = 0; k < method->lineCount; k++) {
    addInt(env, lines, method->lineNumbers != nullptr ? method->lineNumbers[k] : 0);
  }
  putObject(env, inner, "l", lines);
}

CClass* classForMethodAnswer(uint32_t id) {
  CClass* cached = lastClass.load(std::memory_order_relaxed);
  if (cached != nullptr && cached->id == id) return cached;
  CObject* object = lookupObject(id);
  if (object == nullptr) {
    fatalExit(stdout, "CC_C: Inconsistency No object for class %d", static_cast<int>(id));
  }
  if (object->type != kCObjectClass) {
    fatalExit(stdout, "CC_C: Inconsistency: Object %d of type %d", static_cast<int>(id),
              static_cast<int>(object->type));
  }
  CClass* cls = static_cast<CClass*>(object->record);
  lastClass.store(cls, std::memory_order_relaxed);
  return cls;
}

// Class IDs of a request; a null array counts as empty.
struct IdArray {
  JNIEnv* env;
  jintArray array;
  jint* elements;
  jsize count;

  IdArray(JNIEnv* e, jintArray a) : env(e), array(a), elements(nullptr), count(0) {
    if (array == nullptr) return;
    count = env->GetArrayLength(array);
    elements = env->GetIntArrayElements(array, nullptr);
    if (elements == nullptr) count = 0;
  }
  ~IdArray() {
    if (elements != nullptr) env->ReleaseIntArrayElements(array, elements, JNI_ABORT);
  }
  const uint32_t* ids() const { return reinterpret_cast<const uint32_t*>(elements); }
};

}  // namespace

CClass* lastClassRecord() { return lastClass.load(std::memory_order_relaxed); }

void fillClassCoverageAnswer(JNIEnv* env, jobject table, jintArray ids) {
  if (table == nullptr) table = newAnswerTable(env);
  IdArray request(env, ids);
  ClassList* list = updateClassesById(request.ids(), request.count);
  fillClassCoverage(env, list, table);
  freeClassList(list);
}

void fillAllClassCoverageAnswer(JNIEnv* env, jobject table) {
  if (table == nullptr) return;
  ClassList* list = updateTouchedClasses();
  fillClassCoverage(env, list, table);
  freeClassList(list);
}

void fillMethodAnswer(JNIEnv* env, jobject table, jintArray ids, bool withInfo) {
  if (table == nullptr) table = newAnswerTable(env);
  IdArray request(env, ids);
  for (jsize i = 0; i < request.count; i++) {
    CClass* cls = classForMethodAnswer(request.ids()[i]);
    if (cls->methodCount != 0 && cls->methods == nullptr) {
      fatalExit(stdout, "CC_C:  Inconsistency: method %d not found in method coverage.\n", 0);
    }
    for (uint32_t m = 0; m < cls->methodCount; m++) {
      CMethod* method = &cls->methods[m];
      jobject inner = newAnswerTable(env);
      if (withInfo) putMethodInfo(env, method, inner);
      putMethodCoverage(env, method, inner);
      putObjectById(env, table, method->id, inner);
      storeRelaxed<uint8_t>(method->touched, 0);
    }
  }
}
