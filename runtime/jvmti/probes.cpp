#include "runtime/jvmti/probes.h"

#include <stdio.h>

#include "cci/cci.h"
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

void JNICALL emptyLine(JNIEnv*, jclass, jint, jint) {}
void JNICALL emptyEntry(JNIEnv*, jclass, jint) {}

}  // namespace

bool bindProbes(JNIEnv* env, bool empty) {
  jclass probes = env->FindClass("quorvatix/cci/Probes");
  if (probes == nullptr) {
    env->ExceptionClear();
    fputs("cci: class quorvatix/cci/Probes not found; nothing will be counted\n", stderr);
    return false;
  }
  JNINativeMethod methods[] = {
      {const_cast<char*>("line"), const_cast<char*>("(II)V"),
       reinterpret_cast<void*>(empty ? &emptyLine : &probeLine)},
      {const_cast<char*>("entryLine"), const_cast<char*>("(II)V"),
       reinterpret_cast<void*>(empty ? &emptyLine : &probeEntryLine)},
      {const_cast<char*>("entry"), const_cast<char*>("(I)V"),
       reinterpret_cast<void*>(empty ? &emptyEntry : &probeEntry)},
  };
  jint result = env->RegisterNatives(probes, methods, 3);
  env->DeleteLocalRef(probes);
  if (result != JNI_OK || env->ExceptionCheck()) {
    env->ExceptionClear();
    fputs("cci: cannot bind the probes; nothing will be counted\n", stderr);
    return false;
  }
  return true;
}

}  // namespace cci_jvmti
