#include "support/java_objects.h"

#include "support/fatal.h"

void QMCheckException(JNIEnv* env, const char* name) {
  jthrowable pending = env->ExceptionOccurred();
  if (pending == nullptr) return;
  env->ExceptionDescribe();
  env->FatalError(name);
}

jobject QMAllocateObject(JNIEnv* env, jclass cls) {
  jobject object = env->AllocObject(cls);
  QMCheckException(env, "QMAllocateObject");
  return object;
}

jbyteArray QMAllocateByteArray(JNIEnv* env, jint length) {
  jbyteArray array = env->NewByteArray(length);
  QMCheckException(env, "QMAllocateByteArray");
  return array;
}

jstring QMAllocateStringUTF(JNIEnv* env, const char* text) {
  jstring string = env->NewStringUTF(text);
  QMCheckException(env, "QMAllocateStringUTF");
  return string;
}

jclass findGlobalClass(JNIEnv* env, const char* name) {
  jclass local = env->FindClass(name);
  if (local == nullptr) fatalExit(stderr, "CCJNI: Cannot find class %s\nExiting...\n", name);
  return static_cast<jclass>(env->NewGlobalRef(local));
}

jmethodID findMethod(JNIEnv* env, jclass cls, const char* name, const char* signature) {
  jmethodID id = env->GetMethodID(cls, name, signature);
  if (id == nullptr) {
    fatalExit(stderr, "CCJNI: Cannot find method %s%s\nExiting...\n", name, signature);
  }
  return id;
}

jmethodID findStaticMethod(JNIEnv* env, jclass cls, const char* name, const char* signature) {
  jmethodID id = env->GetStaticMethodID(cls, name, signature);
  if (id == nullptr) {
    fatalExit(stderr, "CCJNI: Cannot find static method %s%s\nExiting...\n", name, signature);
  }
  return id;
}
