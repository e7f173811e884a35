// The start-up trace: with CCI_TRACE=1 in the environment, the runtime prints
// on standard error how long each of its steps took (load, VM init, the Java
// side's start, the class hook over the whole run, VM death and the exit
// snapshot), so that the cost of running under coverage can be taken apart
// without a profiler. bench/startup/run --trace prints the same lines.
//
// Off (the default), every entry point is a test of one flag set at load, and
// the hook is the untimed one.
//
// Thread-safety: traceStart runs once in Agent_OnLoad before any other call;
// the hook's counters are atomics, and each line goes out in one fprintf.
#ifndef CCOVER_RUNTIME_JVMTI_STARTUP_TRACE_H_
#define CCOVER_RUNTIME_JVMTI_STARTUP_TRACE_H_

#include <jni.h>
#include <jvmti.h>
#include <stdint.h>

namespace cci_jvmti {

// Reads CCI_TRACE ("1" or "true": on; unset, "" or "0": off; anything else is
// named on standard error and leaves it off) and starts the clock.
void traceStart();

bool tracing();

// Prints "cci: trace <ms since load> <step> <ms since the previous mark>".
void traceMark(const char* step);

// The ClassFileLoadHook to register: onClassFileLoad itself, or, when
// tracing, a wrapper that times every call and counts the classes it changed.
jvmtiEventClassFileLoadHook classHookToRegister();

// One line with the hook's totals so far: calls, classes changed, time.
void traceClassHookTotals();

// What the environment's text means: 1 on, 0 off, -1 not understood.
int traceSetting(const char* text);

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_STARTUP_TRACE_H_
