// Steering the run for the Java side: ending the process, running the program's
// main class, the machine's name, and the two handlers that cci calls at the
// end of the JVM (shutdownHandler) and when the main class is known
// (classNameHandler).
//
// Thread-safety: the flags and the main class name have a single writer each
// and are read and written through atomics.
#ifndef CCOVER_AGENT_RUN_CONTROL_H_
#define CCOVER_AGENT_RUN_CONTROL_H_

#include <jni.h>

void classNameHandler(JNIEnv* env, jstring mainClassName);
// Writes the exit snapshot if asked; with ignoreShutdown it never returns.
void shutdownHandler(JNIEnv* env);

// Writes the exit snapshot if due, then exits with code 0.
[[noreturn]] void exitNow(JNIEnv* env);
// Null when main ran; an error text otherwise.
jstring runProgramWithClass(JNIEnv* env, jstring className, jobjectArray args);
jstring machineID(JNIEnv* env);

// The main class name for the exit snapshot, "coverageSnapshot" when none is
// known yet (and then kept).
const char* exitSnapshotMainClass();
// The current main class name, or null.
const char* mainClassName();

#endif  // CCOVER_AGENT_RUN_CONTROL_H_
