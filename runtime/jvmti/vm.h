// The runtime's gateway to the JVM: holders that give back what JVMTI and JNI
// hand out, so that no path through the runtime leaks a local reference or a
// JVMTI allocation, and the runtime's own per-thread storage.
//
// Each holder owns one thing and frees it when it goes out of scope; none may
// be copied. They are for one thread's use, like the JNIEnv they hold.
#ifndef CCOVER_RUNTIME_JVMTI_VM_H_
#define CCOVER_RUNTIME_JVMTI_VM_H_

#include <jni.h>
#include <jvmti.h>

#include "support/java_objects.h"  // JavaChars, the string holder shared with the agent

namespace cci_jvmti {

// A block that JVMTI allocated (a name, an array), given back with Deallocate.
template <typename T>
class JvmtiMemory {
 public:
  explicit JvmtiMemory(jvmtiEnv* jvmti) : jvmti_(jvmti) {}
  ~JvmtiMemory() {
    if (block_ != nullptr) jvmti_->Deallocate(reinterpret_cast<unsigned char*>(block_));
  }
  JvmtiMemory(const JvmtiMemory&) = delete;
  JvmtiMemory& operator=(const JvmtiMemory&) = delete;

  // Where JVMTI writes the block's address.
  T** out() { return &block_; }
  T* get() const { return block_; }
  // Handed on to whoever frees it now (the JVM, for a new class's bytes).
  T* release() {
    T* block = block_;
    block_ = nullptr;
    return block;
  }

 private:
  jvmtiEnv* jvmti_;
  T* block_ = nullptr;
};

// One JNI local reference, deleted on scope exit.
template <typename T = jobject>
class LocalRef {
 public:
  LocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
  ~LocalRef() {
    if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
  }
  LocalRef(const LocalRef&) = delete;
  LocalRef& operator=(const LocalRef&) = delete;

  T get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }

 private:
  JNIEnv* env_;
  T ref_;
};

// An array of local references that JVMTI allocated (GetAllThreads,
// GetTopThreadGroups, ...): every reference is deleted, then the array given
// back.
template <typename T>
class LocalRefArray {
 public:
  LocalRefArray(jvmtiEnv* jvmti, JNIEnv* env) : jvmti_(jvmti), env_(env) {}
  ~LocalRefArray() {
    if (items_ == nullptr) return;
    for (jint i = 0; i < count_; i++) {
      if (items_[i] != nullptr) env_->DeleteLocalRef(items_[i]);
    }
    jvmti_->Deallocate(reinterpret_cast<unsigned char*>(items_));
  }
  LocalRefArray(const LocalRefArray&) = delete;
  LocalRefArray& operator=(const LocalRefArray&) = delete;

  jint* countOut() { return &count_; }
  T** itemsOut() { return &items_; }
  jint size() const { return items_ != nullptr ? count_ : 0; }
  T operator[](jint i) const { return items_[i]; }

 private:
  jvmtiEnv* jvmti_;
  JNIEnv* env_;
  jint count_ = 0;
  T* items_ = nullptr;
};

// Forgets the calling thread's cci thread storage (the agent frees the block
// itself when the thread ends).
void clearThreadStorage();

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_VM_H_
