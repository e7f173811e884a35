#include "runtime/jvmti/probes.h"

#include <stddef.h>
#include <stdio.h>

#include "cci/cci.h"
#include "cci/records.h"
#include "runtime/jvmti/runtime_state.h"

namespace cci_jvmti {
namespace {

void JNICALL probeLine(JNIEnv* env, jclass, jint method, jint slot) {
  void** table = handlerTable.load(std::memory_order_acquire);
  if (table != nullptr) reinterpret_cast<CciLineHandler>(table[kCciSlotLine])(env, method, slot);
}

void JNICALL probeEntryLine(JNIEnv* env, jclass, jint method, jint slot) {
  void** table = handlerTable.load(std::memory_order_acquire);
  if (table != nullptr) {
    reinterpret_cast<CciLineHandler>(table[kCciSlotEntryLine])(env, method, slot);
  }
}

void JNICALL probeEntry(JNIEnv* env, jclass, jint method) {
  void** table = handlerTable.load(std::memory_order_acquire);
  if (table != nullptr) reinterpret_cast<CciEntryHandler>(table[kCciSlotEntry])(env, method);
}

jintArray JNICALL probeLayout(JNIEnv* env, jclass) {
  const jint layout[] = {static_cast<jint>(sizeof(CMethod)),
                         static_cast<jint>(offsetof(CMethod, hits)),
                         static_cast<jint>(offsetof(CMethod, invocations)),
                         static_cast<jint>(offsetof(CMethod, touched))};
  jintArray array = env->NewIntArray(4);
  if (array != nullptr) env->SetIntArrayRegion(array, 0, 4, layout);
  return array;
}

// Lets the probes' module (the boot loader's unnamed module) read memory with
// jdk.internal.misc.Unsafe. False, with the reason on standard error, when the
// JVM won't.
bool exportUnsafe(jvmtiEnv* jvmti, JNIEnv* env, jclass probes) {
  jobject javaBase = nullptr;
  jobject probesModule = env->GetModule(probes);
  jvmtiError error = jvmti->GetNamedModule(nullptr, "java/lang", &javaBase);
  if (error == JVMTI_ERROR_NONE && javaBase != nullptr && probesModule != nullptr) {
    error = jvmti->AddModuleExports(javaBase, "jdk.internal.misc", probesModule);
  } else if (error == JVMTI_ERROR_NONE) {
    error = JVMTI_ERROR_INTERNAL;
  }
  env->ExceptionClear();
  if (javaBase != nullptr) env->DeleteLocalRef(javaBase);
  if (probesModule != nullptr) env->DeleteLocalRef(probesModule);
  if (error != JVMTI_ERROR_NONE) {
    fprintf(stderr,
            "cci: cannot open jdk.internal.misc to the probes (JVMTI error %d); counting "
            "exactly instead\n",
            static_cast<int>(error));
    return false;
  }
  return true;
}

void JNICALL emptyLine(JNIEnv*, jclass, jint, jint) {}
void JNICALL emptyEntry(JNIEnv*, jclass, jint) {}

}  // namespace

ProbeKind bindProbes(jvmtiEnv* jvmti, JNIEnv* env, bool empty, bool inlineCounting) {
  jclass probes = env->FindClass("quorvatix/cci/Probes");
  if (probes == nullptr) {
    env->ExceptionClear();
    fputs("cci: class quorvatix/cci/Probes not found; nothing will be counted\n", stderr);
    return ProbeKind::kNone;
  }
  JNINativeMethod methods[] = {
      {const_cast<char*>("line"), const_cast<char*>("(II)V"),
       reinterpret_cast<void*>(empty ? &emptyLine : &probeLine)},
      {const_cast<char*>("entryLine"), const_cast<char*>("(II)V"),
       reinterpret_cast<void*>(empty ? &emptyLine : &probeEntryLine)},
      {const_cast<char*>("entry"), const_cast<char*>("(I)V"),
       reinterpret_cast<void*>(empty ? &emptyEntry : &probeEntry)},
      {const_cast<char*>("layout"), const_cast<char*>("()[I"),
       reinterpret_cast<void*>(&probeLayout)},
  };
  jint result = env->RegisterNatives(probes, methods, 4);
  if (result != JNI_OK || env->ExceptionCheck()) {
    env->ExceptionClear();
    env->DeleteLocalRef(probes);
    fputs("cci: cannot bind the probes; nothing will be counted\n", stderr);
    return ProbeKind::kNone;
  }
  bool inlineProbes = inlineCounting && !empty && exportUnsafe(jvmti, env, probes);
  env->DeleteLocalRef(probes);
  return inlineProbes ? ProbeKind::kInline : ProbeKind::kExact;
}

}  // namespace cci_jvmti
