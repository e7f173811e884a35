#include "runtime/jvmti/class_hook.h"

#include <stdio.h>
#include <string.h>

#include <vector>

#include "runtime/jvmti/class_records.h"
#include "runtime/jvmti/runtime_state.h"

namespace cci_jvmti {
namespace {

// Set while the hook runs on this thread: classes loaded meanwhile are the
// instrumenter's own and are not instrumented.
thread_local bool inHook = false;

void reportException(JNIEnv* env, const char* what, const char* name) {
  fprintf(stderr, "cci: %s %s; the class is left as it was\n", what, name);
  env->ExceptionDescribe();  // prints the stack trace and clears the exception
}

// Copies a byte array into a vector; false (exception cleared) on failure.
bool copyBytes(JNIEnv* env, jbyteArray array, std::vector<uint8_t>* out) {
  jsize length = env->GetArrayLength(array);
  out->resize(static_cast<size_t>(length));
  if (length > 0) {
    env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(out->data()));
  }
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    return false;
  }
  return true;
}

void instrument(jvmtiEnv* jvmti, JNIEnv* env, const char* name, jint length,
                const unsigned char* data, jint* newLength, unsigned char** newData) {
  RuntimeState& s = state();
  jstring jname = env->NewStringUTF(name);
  if (jname == nullptr) {
    env->ExceptionClear();
    return;
  }
  jbyteArray original = env->NewByteArray(length);
  if (original == nullptr) {
    env->ExceptionClear();
    env->DeleteLocalRef(jname);
    return;
  }
  env->SetByteArrayRegion(original, 0, length, reinterpret_cast<const jbyte*>(data));
  jobjectArray result = nullptr;
  if (!env->ExceptionCheck()) {
    result = static_cast<jobjectArray>(
        env->CallStaticObjectMethod(s.instrumenterClass, s.instrumentMethod, jname, original));
  }
  env->DeleteLocalRef(original);
  env->DeleteLocalRef(jname);
  if (env->ExceptionCheck()) {
    reportException(env, "the instrumenter failed on", name);
    return;
  }
  if (result == nullptr) return;  // left alone (the instrumenter said why)

  std::vector<uint8_t> code;
  std::vector<uint8_t> description;
  jbyteArray codeArray = static_cast<jbyteArray>(env->GetObjectArrayElement(result, 0));
  jbyteArray descriptionArray = nullptr;
  if (codeArray != nullptr) {
    descriptionArray = static_cast<jbyteArray>(env->GetObjectArrayElement(result, 1));
  }
  bool copied = codeArray != nullptr && descriptionArray != nullptr &&
                copyBytes(env, codeArray, &code) && copyBytes(env, descriptionArray, &description);
  env->ExceptionClear();
  if (codeArray != nullptr) env->DeleteLocalRef(codeArray);
  if (descriptionArray != nullptr) env->DeleteLocalRef(descriptionArray);
  env->DeleteLocalRef(result);
  if (!copied || code.empty()) return;

  ClassRecords records;
  if (!buildClassRecords(description.data(), description.size(), &records)) {
    fprintf(stderr, "cci: malformed description of %s; the class is left as it was\n", name);
    return;
  }
  unsigned char* bytes = nullptr;
  if (jvmti->Allocate(static_cast<jlong>(code.size()), &bytes) != JVMTI_ERROR_NONE) return;
  memcpy(bytes, code.data(), code.size());
  // Registered before the JVM sees the new bytes: no probe can run before its
  // method's record is in the table.
  registerClassRecords(records, s.idToCObjects, s.idToCObjectsLock, s.unregisteredClasses,
                       s.unregisteredClassesLock);
  *newLength = static_cast<jint>(code.size());
  *newData = bytes;
  if (s.options.verbose) {
    fprintf(stderr, "cci: instrumented %s (%u methods)\n", name,
            static_cast<unsigned>(records.methodCount));
  }
}

}  // namespace

void JNICALL onClassFileLoad(jvmtiEnv* jvmti, JNIEnv* env, jclass classBeingRedefined,
                             jobject loader, const char* name, jobject, jint classDataLength,
                             const unsigned char* classData, jint* newClassDataLength,
                             unsigned char** newClassData) {
  RuntimeState& s = state();
  if (inHook || classBeingRedefined != nullptr || name == nullptr || env == nullptr ||
      !s.instrumenterReady.load(std::memory_order_acquire)) {
    return;
  }
  if (!classIncluded(s.options, name)) return;
  if (loader != nullptr && env->IsSameObject(loader, s.instrumenterLoader)) return;
  inHook = true;
  jthrowable pending = env->ExceptionOccurred();
  if (pending != nullptr) env->ExceptionClear();
  instrument(jvmti, env, name, classDataLength, classData, newClassDataLength, newClassData);
  if (pending != nullptr) {
    env->Throw(pending);
    env->DeleteLocalRef(pending);
  }
  inHook = false;
}

bool loadInstrumenter(JNIEnv* env, const char* jarList) {
  RuntimeState& s = state();
  jclass bootstrap = env->FindClass("quorvatix/cci/Bootstrap");
  if (bootstrap == nullptr) {
    reportException(env, "cannot find", "quorvatix/cci/Bootstrap (cci.jar)");
    return false;
  }
  jmethodID load =
      env->GetStaticMethodID(bootstrap, "loadInstrumenter", "(Ljava/lang/String;)Ljava/lang/Class;");
  if (load == nullptr) {
    reportException(env, "cannot find", "Bootstrap.loadInstrumenter");
    return false;
  }
  jstring jars = env->NewStringUTF(jarList);
  if (jars == nullptr) {
    env->ExceptionClear();
    return false;
  }
  jclass instrumenter = static_cast<jclass>(env->CallStaticObjectMethod(bootstrap, load, jars));
  env->DeleteLocalRef(jars);
  if (env->ExceptionCheck() || instrumenter == nullptr) {
    if (env->ExceptionCheck()) {
      reportException(env, "cannot load the instrumenter from", jarList);
    }
    return false;
  }
  jmethodID instrumentMethod =
      env->GetStaticMethodID(instrumenter, "instrument", "(Ljava/lang/String;[B)[[B");
  if (instrumentMethod == nullptr) {
    reportException(env, "cannot find", "Instrumenter.instrument");
    return false;
  }
  jclass classClass = env->FindClass("java/lang/Class");
  jmethodID getLoader =
      classClass != nullptr
          ? env->GetMethodID(classClass, "getClassLoader", "()Ljava/lang/ClassLoader;")
          : nullptr;
  jobject loader = getLoader != nullptr ? env->CallObjectMethod(instrumenter, getLoader) : nullptr;
  if (env->ExceptionCheck() || loader == nullptr) {
    if (env->ExceptionCheck()) reportException(env, "cannot find the loader of", "the instrumenter");
    return false;
  }
  s.instrumenterClass = static_cast<jclass>(env->NewGlobalRef(instrumenter));
  s.instrumenterLoader = env->NewGlobalRef(loader);
  s.instrumentMethod = instrumentMethod;
  env->DeleteLocalRef(loader);
  env->DeleteLocalRef(classClass);
  env->DeleteLocalRef(instrumenter);
  env->DeleteLocalRef(bootstrap);
  s.instrumenterReady.store(true, std::memory_order_release);
  return true;
}

}  // namespace cci_jvmti
