// The live coverage viewer (option live): started once, when the agent's Java
// side registers its handlers, whichever way it was started (the runtime at VM
// init, quorvatix.audit.CoverMain's main, or a host). The viewer's classes are
// ccover's (quorvatix.audit.live in ccover.jar); the runtime only loads them
// in a class loader of their own (quorvatix.cci.Bootstrap.startLive), so that
// the program's class loaders never define them.
//
// Thread-safety: any thread; only the first call with the option set acts.
#ifndef CCOVER_RUNTIME_JVMTI_LIVE_H_
#define CCOVER_RUNTIME_JVMTI_LIVE_H_

#include <jni.h>

namespace cci_jvmti {

// Starts the viewer when the option asks for it and it has not been started.
// Returns once it listens (or has said on standard error why it can't); never
// leaves an exception pending.
void startLiveViewerOnce(JNIEnv* env);

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_LIVE_H_
