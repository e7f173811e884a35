#include "support/java_objects.h"

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
