// The ClassFileLoadHook: hands each class that passes the filter to the
// instrumenter (Java, ASM, in a class loader of its own), registers the records
// that it describes, and gives the JVM the instrumented bytes.
//
// A class that the instrumenter can't handle is left exactly as it was, with a
// message on standard error and no records. Classes loaded while the hook runs
// on the same thread (the instrumenter's own classes and ASM), classes of the
// instrumenter's loader, redefinitions and classes without a name are left
// alone, so the hook never recurses.
//
// Thread-safety: the JVM calls the hook on any thread, many at once; the
// instrumenter is stateless but for an atomic ID counter.
#ifndef CCOVER_RUNTIME_JVMTI_CLASS_HOOK_H_
#define CCOVER_RUNTIME_JVMTI_CLASS_HOOK_H_

#include <jni.h>
#include <jvmti.h>

namespace cci_jvmti {

void JNICALL onClassFileLoad(jvmtiEnv* jvmti, JNIEnv* env, jclass classBeingRedefined,
                             jobject loader, const char* name, jobject protectionDomain,
                             jint classDataLength, const unsigned char* classData,
                             jint* newClassDataLength, unsigned char** newClassData);

// Loads the instrumenter and ASM (jars separated by the path-list separator)
// through quorvatix.cci.Bootstrap and makes the hook live. False, with a
// message on standard error and no pending exception, when that fails.
bool loadInstrumenter(JNIEnv* env, const char* jarList);

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_CLASS_HOOK_H_
