#include "agent/java_api.h"

#include "agent/run_control.h"
#include "agent/start.h"
#include "answers/answers.h"
#include "cci/cci.h"
#include "model/update_cycle.h"
#include "snapshot/generation.h"

#define COVER_MAIN(name) Java_quorvatix_audit_CoverMain_##name

extern "C" {

JNIEXPORT jint JNICALL COVER_MAIN(start)(JNIEnv* env, jclass, jobject, jboolean ignoreShutdown,
                                         jboolean snapshotAtExit) {
  return startAgent(env, ignoreShutdown, snapshotAtExit);
}

JNIEXPORT void JNICALL COVER_MAIN(exitNow)(JNIEnv* env, jclass) { exitNow(env); }

JNIEXPORT jint JNICALL COVER_MAIN(pauseAllThreads)(JNIEnv* env, jclass) {
  return cciSuspendAllThreads(env);
}

JNIEXPORT jint JNICALL COVER_MAIN(resumeAllThreads)(JNIEnv* env, jclass) {
  return cciResumeAllThreads(env);
}

JNIEXPORT jint JNICALL COVER_MAIN(registerAuditThread)(JNIEnv* env, jclass) {
  return cciRegisterAuditThread(env);
}

JNIEXPORT jint JNICALL COVER_MAIN(willProcessAuditRequest)(JNIEnv*, jclass) {
  return cciWillProcessAuditRequest();
}

JNIEXPORT jint JNICALL COVER_MAIN(didProcessAuditRequest)(JNIEnv*, jclass) {
  return cciDidProcessAuditRequest();
}

// The filters are accepted and ignored.
JNIEXPORT void JNICALL COVER_MAIN(setGlobalFilter)(JNIEnv*, jclass, jint) {}

JNIEXPORT void JNICALL COVER_MAIN(setGlobalFilter0)(JNIEnv*, jclass, jint) {}

JNIEXPORT jstring JNICALL COVER_MAIN(runProgramWithClass)(JNIEnv* env, jclass, jstring className,
                                                          jobjectArray args) {
  return runProgramWithClass(env, className, args);
}

JNIEXPORT jstring JNICALL COVER_MAIN(machineID)(JNIEnv* env, jclass) { return machineID(env); }

JNIEXPORT void JNICALL COVER_MAIN(markClasses)(JNIEnv*, jclass) { markClasses(); }

JNIEXPORT void JNICALL COVER_MAIN(detach)(JNIEnv*, jclass) { detachClasses(); }

JNIEXPORT jboolean JNICALL COVER_MAIN(hasNewClasses)(JNIEnv*, jclass) { return hasNewClasses(); }

JNIEXPORT void JNICALL COVER_MAIN(fillClassInfoAnswer)(JNIEnv* env, jclass, jobject table) {
  fillClassInfoAnswer(env, table);
}

JNIEXPORT void JNICALL COVER_MAIN(fillClassCoverageAnswer)(JNIEnv* env, jclass, jobject table,
                                                           jintArray ids) {
  fillClassCoverageAnswer(env, table, ids);
}

JNIEXPORT void JNICALL COVER_MAIN(fillAllClassCoverageAnswer)(JNIEnv* env, jclass, jobject table) {
  fillAllClassCoverageAnswer(env, table);
}

JNIEXPORT void JNICALL COVER_MAIN(fillMethodInfoAnswer)(JNIEnv* env, jclass, jobject table,
                                                        jintArray ids) {
  fillMethodAnswer(env, table, ids, true);
}

JNIEXPORT void JNICALL COVER_MAIN(fillMethodCoverageAnswer)(JNIEnv* env, jclass, jobject table,
                                                            jintArray ids) {
  fillMethodAnswer(env, table, ids, false);
}

JNIEXPORT jboolean JNICALL COVER_MAIN(generateSnapshot)(JNIEnv* env, jclass, jstring file,
                                                        jstring sourcePath, jstring comment,
                                                        jobject reporter, jobject stream,
                                                        jboolean local) {
  return generateSnapshot(env, file, sourcePath, comment, reporter, stream, local);
}

}  // extern "C"

#define NATIVE(name, signature)                             \
  {                                                         \
    const_cast<char*>(#name), const_cast<char*>(signature), \
        reinterpret_cast<void*>(&COVER_MAIN(name))          \
  }

const JNINativeMethod kCoverMainNatives[] = {
    NATIVE(start, "(Ljava/lang/Object;ZZ)I"),
    NATIVE(exitNow, "()V"),
    NATIVE(pauseAllThreads, "()I"),
    NATIVE(resumeAllThreads, "()I"),
    NATIVE(registerAuditThread, "()I"),
    NATIVE(willProcessAuditRequest, "()I"),
    NATIVE(didProcessAuditRequest, "()I"),
    NATIVE(setGlobalFilter, "(I)V"),
    NATIVE(setGlobalFilter0, "(I)V"),
    NATIVE(runProgramWithClass, "(Ljava/lang/String;[Ljava/lang/String;)Ljava/lang/String;"),
    NATIVE(machineID, "()Ljava/lang/String;"),
    NATIVE(markClasses, "()V"),
    NATIVE(detach, "()V"),
    NATIVE(hasNewClasses, "()Z"),
    NATIVE(fillClassInfoAnswer, "(Lnetscape/util/Hashtable;)V"),
    NATIVE(fillClassCoverageAnswer, "(Lnetscape/util/Hashtable;[I)V"),
    NATIVE(fillAllClassCoverageAnswer, "(Lnetscape/util/Hashtable;)V"),
    NATIVE(fillMethodInfoAnswer, "(Lnetscape/util/Hashtable;[I)V"),
    NATIVE(fillMethodCoverageAnswer, "(Lnetscape/util/Hashtable;[I)V"),
    NATIVE(generateSnapshot,
           "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/Object;"
           "Ljava/io/OutputStream;Z)Z"),
};

const int kCoverMainNativeCount = sizeof(kCoverMainNatives) / sizeof(kCoverMainNatives[0]);
