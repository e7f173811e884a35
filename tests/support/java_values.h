// Reading the Java side's answer objects back in tests: a netscape/util
// Hashtable renders as {key=value, ...} in the order of the first put of each
// key, a Vector as [item, ...].
#ifndef CCOVER_TESTS_SUPPORT_JAVA_VALUES_H_
#define CCOVER_TESTS_SUPPORT_JAVA_VALUES_H_

#include <jni.h>

#include <string>
#include <vector>

#include "tests/harness/jvm.h"

inline std::string render(JNIEnv* env, jobject object) {
  if (object == nullptr) return "<null>";
  jclass objectClass = env->FindClass("java/lang/Object");
  jmethodID toString = env->GetMethodID(objectClass, "toString", "()Ljava/lang/String;");
  jstring text = static_cast<jstring>(env->CallObjectMethod(object, toString));
  env->ExceptionCheck();
  std::string result = javaString(env, text);
  env->DeleteLocalRef(text);
  env->DeleteLocalRef(objectClass);
  return result;
}

inline jobject newJavaTable(JNIEnv* env) {
  jclass cls = env->FindClass("netscape/util/Hashtable");
  jobject table = env->AllocObject(cls);
  env->DeleteLocalRef(cls);
  return table;
}

inline jobject tableGet(JNIEnv* env, jobject table, const char* key) {
  jclass cls = env->FindClass("netscape/util/Hashtable");
  jmethodID get = env->GetMethodID(cls, "get", "(Ljava/lang/Object;)Ljava/lang/Object;");
  jstring k = env->NewStringUTF(key);
  jobject value = env->CallObjectMethod(table, get, k);
  env->ExceptionCheck();
  env->DeleteLocalRef(k);
  env->DeleteLocalRef(cls);
  return value;
}

inline int tableCount(JNIEnv* env, jobject table) {
  jclass cls = env->FindClass("netscape/util/Hashtable");
  jmethodID count = env->GetMethodID(cls, "count", "()I");
  int n = env->CallIntMethod(table, count);
  env->ExceptionCheck();
  env->DeleteLocalRef(cls);
  return n;
}

// Keys in put order, duplicates included.
inline std::string putLog(JNIEnv* env, jobject table) {
  jclass cls = env->FindClass("netscape/util/Hashtable");
  jmethodID log = env->GetMethodID(cls, "putLog", "()Ljava/util/List;");
  jobject list = env->CallObjectMethod(table, log);
  env->ExceptionCheck();
  std::string text = render(env, list);
  env->DeleteLocalRef(list);
  env->DeleteLocalRef(cls);
  return text;
}

inline jintArray javaInts(JNIEnv* env, const std::vector<jint>& values) {
  jintArray array = env->NewIntArray(static_cast<jsize>(values.size()));
  env->SetIntArrayRegion(array, 0, static_cast<jsize>(values.size()), values.data());
  return array;
}

#endif  // CCOVER_TESTS_SUPPORT_JAVA_VALUES_H_
