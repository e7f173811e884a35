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

namespace cci_jvmti {

void JNICALL onClassFileLoad(jvmtiEnv* jvmti, JNIEnv* env, jclass classBeingRedefined,
                             jobject loader, const char* name, jobject protectionDomain,
                             jint classDataLength, const unsigned char* classData,
                             jint* newClassDataLength, unsigned char** newClassData);

// Makes the hook live; called at VM init once the probes are bound.
void enableInstrumenting();

// Stops instrumenting: the VM is going down.
void disableInstrumenting();

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_CLASS_HOOK_H_
