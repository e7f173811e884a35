
// static natives line(method, slot), entryLine(method, slot) and entry(method),
// bound with RegisterNatives to functions that hand the event, with the
// calling thread's JNIEnv, to the agent's handler of the same kind.
//
// This is the hot path: a probe reads the handler table (one acquire load) and
// calls the handler; before cciSetHandlers the event is dropped. No allocation,
// no lock, no JNI call.
//
// Inline counting calls Probes' Java methods instead (Probes.java), which count
// in the records and reach these natives only for an untouched method.
//
// Thread-safety: probes run on any application thread at once.
#ifndef CCOVER_RUNTIME_JVMTI_PROBES_H_
#define CCOVER_RUNTIME_JVMTI_PROBES_H_

#include <jni.h>
#include <jvmti.h>

namespace cci_jvmti {

enum class ProbeKind {
  kNone,    // the probes could not be bound: instrument nothing
  kExact,   // every event calls a native probe
  kInline,  // the probes count in the records (Probes.countLine, ...)
};

// Binds the natives of quorvatix/cci/Probes (found through the system class
// loader, which delegates to the boot class path that holds it) and, for
// inline counting, exports jdk.internal.misc to the probes' module. With empty
// true, the natives do nothing at all: the cost floor of the exact design.
// kNone, with the exception cleared, when the class or a method is missing;
// kExact when inline counting was asked for but the JVM refused the export
// (said on standard error).
ProbeKind bindProbes(jvmtiEnv* jvmti, JNIEnv* env, bool empty, bool inlineCounting);

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_PROBES_H_
