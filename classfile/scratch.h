// Working storage a unit keeps from one call to the next, so that
// instrumenting thousands of classes at start-up doesn't grow fresh vectors
// for each class and method.
//
// A Scratch<T> leases a T from a pool for its lifetime and returns it after,
// with its vectors' capacity kept; the pool holds at most as many as were
// ever in use at once (about the number of threads loading classes at the
// same instant), and lives until the process ends. Not thread_local storage:
// a library loaded with dlopen takes initial-exec TLS from the small static
// reserve a process has, and MinGW runs thread_local destructors after the
// thread's storage is gone.
//
// Leasing and returning take one atomic exchange each while no more than
// kSlots leases are out at once (the common case: a few class-loading
// threads); past that, a locked list holds the rest. A mutex around every
// lease showed up in the class hook's profile: a class takes several leases
// per method.
//
// Thread-safety: a lease is the holder's alone; leasing and returning may
// happen on any thread. The user resets whatever it reads.
#ifndef CCOVER_CLASSFILE_SCRATCH_H_
#define CCOVER_CLASSFILE_SCRATCH_H_

#include <stddef.h>

#include <atomic>
#include <mutex>
#include <vector>

namespace classfile {

template <typename T>
class Scratch {
 public:
  Scratch() {
    Pool& p = pool();
    for (std::atomic<T*>& slot : p.slots) {
      if (slot.load(std::memory_order_relaxed) == nullptr) continue;
      value_ = slot.exchange(nullptr, std::memory_order_acquire);
      if (value_ != nullptr) return;
    }
    {
      std::lock_guard<std::mutex> guard(p.lock);
      if (!p.idle.empty()) {
        value_ = p.idle.back();
        p.idle.pop_back();
      }
    }
    if (value_ == nullptr) value_ = new T();
  }
  ~Scratch() {
    Pool& p = pool();
    for (std::atomic<T*>& slot : p.slots) {
      T* empty = nullptr;
      if (slot.load(std::memory_order_relaxed) == nullptr &&
          slot.compare_exchange_strong(empty, value_, std::memory_order_release,
                                       std::memory_order_relaxed)) {
        return;
      }
    }
    std::lock_guard<std::mutex> guard(p.lock);
    p.idle.push_back(value_);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  T& operator*() const { return *value_; }
  T* operator->() const { return value_; }

 private:
  static constexpr size_t kSlots = 8;
  struct Pool {
    std::atomic<T*> slots[kSlots] = {};
    std::mutex lock;
    std::vector<T*> idle;  // what the slots can't hold
  };
  // Never destroyed: a lease may end during the process's exit.
  static Pool& pool() {
    static Pool* p = new Pool();
    return *p;
  }

  T* value_ = nullptr;
};

}  // namespace classfile

#endif  // CCOVER_CLASSFILE_SCRATCH_H_
