// Working storage a unit keeps per thread from one call to the next, so that
// instrumenting thousands of classes at start-up doesn't grow fresh vectors
// for each class and method.
//
// The storage lives on the heap behind one thread-local pointer: the runtime
// that links this library is loaded with the initial-exec TLS model, which
// takes its thread-local block from the little static TLS a process has to
// spare, so that block must stay small. It is freed when the thread ends.
//
// Thread-safety: each thread has its own T. A caller must not hold the
// reference across a call that may use the same T (the units using it are
// not re-entered).
#ifndef CCOVER_CLASSFILE_THREAD_SCRATCH_H_
#define CCOVER_CLASSFILE_THREAD_SCRATCH_H_

namespace classfile {

template <typename T>
T& threadScratch() {
  struct Holder {
    T* value = nullptr;
    ~Holder() { delete value; }
  };
  thread_local Holder holder;
  if (holder.value == nullptr) holder.value = new T();
  return *holder.value;
}

}  // namespace classfile

#endif  // CCOVER_CLASSFILE_THREAD_SCRATCH_H_
