// Run control of the program's threads: suspend and resume every application
// thread except the caller and the registered audit threads, registration of
// audit threads, and the audit-request brackets.
//
// An application thread is a live thread of the "main" thread group or of a
// group below it: the JVM's own threads (the "system" group: reference
// handler, finalizer, signal dispatcher, cleaners, attach listener) are never
// suspended, since the audit thread may need them.
//
// Results, handed unchanged to the Java caller:
//   suspendAllThreads   threads suspended by this call (0 or more); -1 when
//                       JVMTI fails before any thread is suspended
//   resumeAllThreads    threads resumed (those that the suspensions since the
//                       last resume suspended and that are still alive)
//   registerAuditThread 1 when the calling thread is newly registered, 0 when it
//                       already was, -1 when JVMTI cannot name it
//   willProcessAuditRequest  audit requests in progress after it (1 or more)
//   didProcessAuditRequest   audit requests still in progress after it (0 or
//                       more); -1, changing nothing, when none was in progress
//
// Thread-safety: any thread; the thread lists are guarded by one mutex.
#ifndef CCOVER_RUNTIME_JVMTI_THREADS_H_
#define CCOVER_RUNTIME_JVMTI_THREADS_H_

#include <jni.h>

namespace cci_jvmti {

jint suspendAllThreads(JNIEnv* env);
jint resumeAllThreads(JNIEnv* env);
jint registerAuditThread(JNIEnv* env);
jint willProcessAuditRequest();
jint didProcessAuditRequest();

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_THREADS_H_
