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

// Lookups that end the process with a "CCJNI" message when they fail, for what
// must exist once the agent has started; the pending Java exception is left as
// it is. findGlobalClass returns a global reference.
jclass findGlobalClass(JNIEnv* env, const char* name);
jmethodID findMethod(JNIEnv* env, jclass cls, const char* name, const char* signature);
jmethodID findStaticMethod(JNIEnv* env, jclass cls, const char* name, const char* signature);

// The modified UTF-8 characters of a Java string (null for a null string),
// released when the holder goes out of scope.
class JavaChars {
 public:
  JavaChars(JNIEnv* env, jstring string)
      : env_(env),
        string_(string),
        chars_(string != nullptr ? env->GetStringUTFChars(string, nullptr) : nullptr) {}
  ~JavaChars() {
    if (chars_ != nullptr) env_->ReleaseStringUTFChars(string_, chars_);
  }
  JavaChars(const JavaChars&) = delete;
  JavaChars& operator=(const JavaChars&) = delete;

  const char* get() const { return chars_; }

 private:
  JNIEnv* env_;
  jstring string_;
  const char* chars_;
};

#endif  // CCOVER_SUPPORT_JAVA_OBJECTS_H_
