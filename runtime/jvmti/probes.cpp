#include "runtime/jvmti/probes.h"

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "cci/cci.h"
#include "cci/records.h"
#include "runtime/jvmti/runtime_state.h"
#include "runtime/jvmti/startup_trace.h"
#include "runtime/jvmti/vm.h"

namespace cci_jvmti {
namespace {

// Past the JIT's threshold for queueing a method (200 invocations at tier 3).
constexpr int kWarmUpCalls = 300;

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

// Records the export in the JVM alone, through Module's private native
// addExports0 (JDK 9 to 25). Linking the probes' reference to Unsafe checks
// only that record. JVMTI's AddModuleExports also keeps Module's Java-level
// account of it, whose WeakPairMap spins the JVM's first lambda: some 7 ms of
// VM init, for a view of the export that only reflection would consult. False,
// with nothing pending, where the native is missing or refuses.
bool exportInVm(JNIEnv* env, jobject javaBase, jobject probesModule) {
  LocalRef<jclass> moduleClass(env, env->FindClass("java/lang/Module"));
  jmethodID addExports0 =
      moduleClass
          ? env->GetStaticMethodID(moduleClass.get(), "addExports0",
                                   "(Ljava/lang/Module;Ljava/lang/String;Ljava/lang/Module;)V")
          : nullptr;
  LocalRef<jstring> package(
      env, addExports0 != nullptr ? env->NewStringUTF("jdk.internal.misc") : nullptr);
  if (package) {
    env->CallStaticVoidMethod(moduleClass.get(), addExports0, javaBase, package.get(),
                              probesModule);
  }
  bool exported = package && !env->ExceptionCheck();
  env->ExceptionClear();
  return exported;
}

// Lets the probes' module (the boot loader's unnamed module) read memory with
// jdk.internal.misc.Unsafe. False, with the reason on standard error, when the
// JVM won't.
bool exportUnsafe(jvmtiEnv* jvmti, JNIEnv* env, jclass probes) {
  jobject javaBase = nullptr;
  jobject probesModule = env->GetModule(probes);
  jvmtiError error = jvmti->GetNamedModule(nullptr, "java/lang", &javaBase);
  if (error == JVMTI_ERROR_NONE && javaBase != nullptr && probesModule != nullptr) {
    if (!exportInVm(env, javaBase, probesModule)) {
      error = jvmti->AddModuleExports(javaBase, "jdk.internal.misc", probesModule);
    }
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

// A method record of the runtime's own, touched, with one line counter right
// after it, as the hook lays out a class's records: what the warm-up below
// counts in.
struct WarmUpRecord {
  CMethod method;
  uint32_t counter;
};
static_assert(offsetof(WarmUpRecord, counter) == sizeof(CMethod), "counter follows the record");
WarmUpRecord warmUpRecord;

// Has Probes.warmUp call each inline probe often enough that the JIT queues
// it for compiling now, before the program's classes call it: until compiled,
// an inline probe runs interpreted, and each of its Unsafe reads and writes is
// a native call that enters the VM (several times the cost of an exact
// probe's one JNI call). In the start-up bench the program made some 100,000
// such calls before the JIT got round to the probes on its own, ~105 ms into
// the run; warmed, they are compiled at ~35 ms, before the program's main.
void warmUp(JNIEnv* env, jclass probes) {
  warmUpRecord.method.touched = 1;
  warmUpRecord.method.lineCount = 1;
  warmUpRecord.method.hits = &warmUpRecord.counter;
  jlong counters = static_cast<jlong>(reinterpret_cast<uintptr_t>(&warmUpRecord.counter));
  jmethodID warm = env->GetStaticMethodID(probes, "warmUp", "(JI)V");
  if (warm != nullptr) env->CallStaticVoidMethod(probes, warm, counters, kWarmUpCalls);
  env->ExceptionClear();
  // Each round counts the line three times (countLine, countHit,
  // countEntryLine) and the entry twice (countEntryLine, countEntry).
  if (tracing()) {
    fprintf(stderr, "cci: trace probes warmed: %u line counts, %u entries\n",
            static_cast<unsigned>(warmUpRecord.counter),
            static_cast<unsigned>(warmUpRecord.method.invocations));
  }
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
  if (inlineProbes) warmUp(env, probes);
  env->DeleteLocalRef(probes);
  return inlineProbes ? ProbeKind::kInline : ProbeKind::kExact;
}

}  // namespace cci_jvmti
