// The execution handlers against the locks they stand on: a plain increment,
// the runtime's monitor around an increment (what a plain method's counting
// costs at least), and a std::mutex around an increment. bench/handler_ratios
// runs these and prints each case as a ratio to the monitor baseline.
#include <benchmark/benchmark.h>

#include <atomic>
#include <mutex>

#include "agent/handlers.h"
#include "model/object_table.h"
#include "runtime/testing/cci_testing.h"

namespace {

constexpr uint32_t kClassId = 70000;
constexpr int kMethods = 64;

// IDs: kClassId + 1 .. + 64; methods 1 .. 32 plain, 33 .. 64 synchronized.
jint methodId(int m) { return static_cast<jint>(kClassId + 1 + m); }

void ensureTable() {
  if (objectTables.idToCObjects == cciGetCObjectsByID() && cciTestObject(kClassId) != nullptr)
    return;
  cciTestReset();
  bindObjectTables();
  CciTestMethodSpec methodShapes[kMethods];
  for (int m = 0; m < kMethods; m++) {
    methodShapes[m] = {static_cast<uint32_t>(methodId(m)),        "m", "()V",
                       static_cast<uint16_t>(m >= 32 ? 0x20 : 0), 16,  nullptr};
  }
  cciTestAddClass(kClassId, "bench/Hot", nullptr, 1, 1, methodShapes, kMethods);
}

JNIEnv* threadEnv() {
  thread_local int standIn;
  return reinterpret_cast<JNIEnv*>(&standIn);
}

void BM_LineHandlerHit(benchmark::State& state) {
  if (state.thread_index() == 0) ensureTable();
  JNIEnv* env = threadEnv();
  jint id = methodId(state.range(0));
  lineHandler(env, id, 0);
  int slot = 0;
  for (auto _ : state) {
    lineHandler(env, id, slot);
    slot = (slot + 1) & 15;
  }
}
// Arg: the method. 0 is plain, 40 synchronized.
BENCHMARK(BM_LineHandlerHit)->Arg(0)->Arg(40);
// Two threads on different methods (thread index picks the method), and on one.
void BM_LineHandlerTwoThreadsOwnMethods(benchmark::State& state) {
  if (state.thread_index() == 0) ensureTable();
  JNIEnv* env = threadEnv();
  // Methods 16 apart, so their records and counters share no cache line.
  jint id = methodId(2 + state.thread_index() * 16);
  for (auto _ : state) lineHandler(env, id, 1);
}
BENCHMARK(BM_LineHandlerTwoThreadsOwnMethods)->Threads(2)->UseRealTime();
// Arg: the method. 5 is plain (its monitor is contended), 45 synchronized
// (its counter's compare-and-swap is).
void BM_LineHandlerTwoThreadsOneMethod(benchmark::State& state) {
  if (state.thread_index() == 0) ensureTable();
  JNIEnv* env = threadEnv();
  jint id = methodId(static_cast<int>(state.range(0)));
  for (auto _ : state) lineHandler(env, id, 1);
}
BENCHMARK(BM_LineHandlerTwoThreadsOneMethod)->Arg(5)->Arg(45)->Threads(2)->UseRealTime();

void BM_EntryLineHandler(benchmark::State& state) {
  ensureTable();
  JNIEnv* env = threadEnv();
  for (auto _ : state) entryLineHandler(env, methodId(6), 0);
}
BENCHMARK(BM_EntryLineHandler);

// 64 methods in turn: every event misses the 32-entry cache.
void BM_LineHandlerMiss(benchmark::State& state) {
  ensureTable();
  JNIEnv* env = threadEnv();
  int m = 0;
  for (auto _ : state) {
    lineHandler(env, methodId(m), 0);
    m = (m + 1) & (kMethods - 1);
  }
}
BENCHMARK(BM_LineHandlerMiss);

// Baselines.
void BM_BaselinePlainIncrement(benchmark::State& state) {
  uint32_t counter = 0;
  for (auto _ : state) {
    std::atomic_ref<uint32_t> ref(counter);
    ref.store(ref.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_BaselinePlainIncrement);

void BM_BaselineMonitorIncrement(benchmark::State& state) {
  static void* monitor = qmiMonitorAllocate("bench");
  uint32_t counter = 0;
  for (auto _ : state) {
    qmiMonitorEnter(monitor);
    std::atomic_ref<uint32_t> ref(counter);
    ref.store(ref.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    qmiMonitorExit(monitor);
  }
  benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_BaselineMonitorIncrement);

void BM_BaselineMutexIncrement(benchmark::State& state) {
  static std::mutex mutex;
  uint32_t counter = 0;
  for (auto _ : state) {
    std::lock_guard<std::mutex> lock(mutex);
    counter++;
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_BaselineMutexIncrement);

}  // namespace
