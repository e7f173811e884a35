// The ClassFileLoadHook: instruments each class that passes the filter with
// classfile/ (native code; nothing of Java runs on the loading path),
// registers the records of its methods, and gives the JVM the new bytes.
//
// A class that can't be read is left exactly as it was, with one message on
// standard error and no records; the JVM then reports its own error. A
// method whose probes don't fit is reported once and recorded as such (see
// CMethod::uncounted). Redefinitions, classes without a name and classes
// loaded before VM init are left alone.
//
// Thread-safety: the JVM calls the hook on any thread, many at once; the only
// shared state is an atomic ID counter and the locked tables.
#ifndef CCOVER_RUNTIME_JVMTI_CLASS_HOOK_H_
#define CCOVER_RUNTIME_JVMTI_CLASS_HOOK_H_

#include <jni.h>
#include <jvmti.h>
#include <stddef.h>
#include <stdint.h>

#include "classfile/instrument.h"

namespace cci_jvmti {

void JNICALL onClassFileLoad(jvmtiEnv* jvmti, JNIEnv* env, jclass classBeingRedefined,
                             jobject loader, const char* name, jobject protectionDomain,
                             jint classDataLength, const unsigned char* classData,
                             jint* newClassDataLength, unsigned char** newClassData);

enum class HookResult {
  kLeft,       // left as it was, without records (skipped, unreadable, no memory)
  kRecorded,   // its records registered, its bytes left as they were (no room for probes)
  kRewritten,  // its records registered, the new class written where output said
};

// The hook's work on one class that passed the filter, without the JVM: the
// new class goes where output says (the hook's is JVMTI memory), its size into
// *newLength. Also what bench/hook measures.
HookResult instrumentLoadedClass(const char* name, const uint8_t* data, size_t length,
                                 const classfile::ClassOutput& output, size_t* newLength);

// Makes the hook live; called at VM init once the probes are bound.
void enableInstrumenting();

// Stops instrumenting: the VM is going down.
void disableInstrumenting();

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_CLASS_HOOK_H_
