// The native probes that instrumented bytecode calls: quorvatix.cci.Probes'
// static natives line(method, slot), entryLine(method, slot) and entry(method),
// bound with RegisterNatives to functions that hand the event, with the
// calling thread's JNIEnv, to the agent's handler of the same kind.
//
// This is the hot path: a probe reads the handler table (one acquire load) and
// calls the handler; before cciSetHandlers the event is dropped. No allocation,
// no lock, no JNI call.
//
// Thread-safety: probes run on any application thread at once.
#ifndef CCOVER_RUNTIME_JVMTI_PROBES_H_
#define CCOVER_RUNTIME_JVMTI_PROBES_H_

#include <jni.h>

namespace cci_jvmti {

// Binds the natives of quorvatix/cci/Probes (found through the system class
// loader, which delegates to the boot class path that holds it). With empty
// true, the natives do nothing at all: the cost floor of this design. False,
// with the exception cleared, when the class or a method is missing.
bool bindProbes(JNIEnv* env, bool empty);

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_PROBES_H_
