// Every Java object the agent creates goes through these helpers. Each makes one
// JNI allocation and then checks for a pending exception; an exception there
// (out of memory, or one already pending) is described and ends the JVM with
// FatalError, so callers have no failure path for a missing object.
//
// Thread-safety: stateless; any attached thread, with its own JNIEnv.
#ifndef CCOVER_SUPPORT_JAVA_OBJECTS_H_
#define CCOVER_SUPPORT_JAVA_OBJECTS_H_

#include <jni.h>

// A new instance on which no constructor has run.
jobject QMAllocateObject(JNIEnv* env, jclass cls);
jbyteArray QMAllocateByteArray(JNIEnv* env, jint length);
// text is NUL-terminated modified UTF-8.
jstring QMAllocateStringUTF(JNIEnv* env, const char* text);
void QMCheckException(JNIEnv* env, const char* name);

#endif  // CCOVER_SUPPORT_JAVA_OBJECTS_H_
