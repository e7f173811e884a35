#include "runtime/jvmti/live.h"

#include <stdio.h>

#include <atomic>

#include "runtime/jvmti/runtime_state.h"
#include "runtime/jvmti/vm.h"

namespace cci_jvmti {
namespace {

std::atomic<bool> liveStarted{false};

}  // namespace

void startLiveViewerOnce(JNIEnv* env) {
  RuntimeState& s = state();
  if (env == nullptr || !s.options.live || liveStarted.exchange(true)) return;
  LocalRef<jclass> bootstrap(env, env->FindClass("quorvatix/cci/Bootstrap"));
  jmethodID start =
      bootstrap ? env->GetStaticMethodID(bootstrap.get(), "startLive", "(Ljava/lang/String;I)V")
                : nullptr;
  if (start == nullptr) {
    env->ExceptionClear();
    fputs("cci: cannot start the live viewer: Bootstrap.startLive is missing from cci.jar\n",
          stderr);
    return;
  }
  LocalRef<jstring> host(env, env->NewStringUTF(s.options.liveHost.c_str()));
  if (host) {
    // startLive reports its own failures and throws nothing; a throwable that
    // escapes anyway (an Error) is described, never left to the caller.
    env->CallStaticVoidMethod(bootstrap.get(), start, host.get(),
                              static_cast<jint>(s.options.livePort));
  }
  if (env->ExceptionCheck()) {
    fputs("cci: cannot start the live viewer:\n", stderr);
    env->ExceptionDescribe();
    env->ExceptionClear();
  }
}

}  // namespace cci_jvmti
