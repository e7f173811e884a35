// Writing the snapshot of a large table: 5,000 classes with 10 methods of 20
// line slots each (50,000 methods, one million line slots).
//
//   SnapshotBaseline    the same number of bytes in one fwrite (the disk's share)
//   SnapshotTrees       building ClassRoot and MethodRoot alone (freeing untimed)
//   SnapshotDocument    the whole writeSnapshotDocument
//
// They run in this order; SnapshotDocument then reports its time as a multiple
// of the other two (x_baseline, x_trees; the goal is x_trees <= 3). peak_x_file
// is heap in use as a multiple of the file's size: for SnapshotTrees the larger
// of the two trees, for SnapshotDocument the sampled peak of a whole write.
// bytes_per_second is the snapshot's size over the time.
//
// Run: cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
//        -DCCOVER_BUILD_BENCH=ON && ninja -C build/bench ccover_bench &&
//      build/bench/bin/ccover_bench --benchmark_filter=Snapshot
#include <benchmark/benchmark.h>
#include <malloc.h>  // mallinfo2: this benchmark is built on glibc only
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "runtime/testing/cci_testing.h"
#include "snapshot/document.h"

namespace {

constexpr int kClasses = 5000;
constexpr int kMethodsPerClass = 10;
constexpr uint16_t kSlotsPerMethod = 20;

struct Results {
  double baselineSeconds = 0;  // per iteration
  double treesSeconds = 0;
};
Results results;

// Fills the testing runtime's table once, with counters of every size class
// (one, two and four byte integer forms).
QMHashTable* table() {
  static QMHashTable* built = [] {
    cciTestReset();
    std::vector<CciTestMethodSpec> methodShapes(kMethodsPerClass);
    uint32_t id = 1;
    for (int c = 0; c < kClasses; c++) {
      uint32_t classId = id++;
      for (int m = 0; m < kMethodsPerClass; m++) {
        methodShapes[m] = {id++, nullptr, "(Ljava/lang/String;I)V", 1, kSlotsPerMethod, nullptr};
      }
      char name[64];
      snprintf(name, sizeof name, "com/example/pkg%d/Class%d", c % 50, c);
      CClass* cls =
          cciTestAddClass(classId, name, "Class.java", 1, 1, methodShapes.data(), kMethodsPerClass);
      cls->coverage = static_cast<uint16_t>(c % 10001);
      cls->missedLines = c % 200;
      for (int m = 0; m < kMethodsPerClass; m++) {
        CMethod& method = cls->methods[m];
        method.invocations = static_cast<uint32_t>(c * 37 + m);
        for (int s = 0; s < kSlotsPerMethod; s++) {
          method.hits[s] = static_cast<uint32_t>((c * 131 + m * 17 + s * s * 1009) % 100000);
          method.markedHits[s] = method.hits[s] / 2;
        }
      }
    }
    return cciGetCObjectsByID();
  }();
  return built;
}

std::string tempPath() {
  char path[4096];
  if (!platform::createTempFile(path, sizeof path)) return "";
  return path;
}

// The size of the document of the table, written once.
int32_t documentSize() {
  static int32_t size = [] {
    std::string path = tempPath();
    int32_t bytes = 0;
    if (!writeSnapshotDocument(path.c_str(), nullptr, nullptr, table(), &bytes)) bytes = 0;
    platform::removeFile(path.c_str());
    return bytes;
  }();
  return size;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void SnapshotBaseline(benchmark::State& state) {
  std::vector<char> bytes(static_cast<size_t>(documentSize()), 'x');
  std::string path = tempPath();
  double total = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    FILE* file = platform::openFile(path.c_str(), "wb");
    if (file == nullptr || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
      state.SkipWithError("write failed");
    }
    if (file != nullptr) fclose(file);
    total += secondsSince(start);
  }
  platform::removeFile(path.c_str());
  results.baselineSeconds = total / static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * documentSize());
}

void SnapshotTrees(benchmark::State& state) {
  QMHashTable* t = table();
  double total = 0;
  size_t peak = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    size_t before = mallinfo2().uordblks;
    SElem* classes = makeClassRoot(t);
    size_t afterClasses = mallinfo2().uordblks;
    double classSeconds = secondsSince(start);
    state.PauseTiming();
    SEFree(classes);
    state.ResumeTiming();
    start = std::chrono::steady_clock::now();
    SElem* methods = makeMethodRoot(t);
    size_t afterMethods = mallinfo2().uordblks;
    total += classSeconds + secondsSince(start);
    state.PauseTiming();
    SEFree(methods);
    state.ResumeTiming();
    size_t larger = afterClasses - before > afterMethods - before ? afterClasses - before
                                                                  : afterMethods - before;
    if (larger > peak) peak = larger;
    if (classes == nullptr || methods == nullptr) state.SkipWithError("out of memory");
  }
  results.treesSeconds = total / static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * documentSize());
  state.counters["peak_x_file"] = static_cast<double>(peak) / documentSize();
  state.counters["file_MB"] = documentSize() / 1e6;
}

void SnapshotDocument(benchmark::State& state) {
  QMHashTable* t = table();
  std::string path = tempPath();
  double total = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    int32_t bytes = 0;
    if (!writeSnapshotDocument(path.c_str(), "/src", "bench", t, &bytes)) {
      state.SkipWithError("snapshot failed");
    }
    total += secondsSince(start);
  }
  // One more, untimed run with a thread sampling the heap in use: the peak of
  // the document itself (its key tables and one object's element at a time).
  size_t before = mallinfo2().uordblks;
  std::atomic<bool> done{false};
  std::atomic<size_t> peak{before};
  std::thread sampler([&] {
    while (!done.load()) {
      size_t now = mallinfo2().uordblks;
      if (now > peak.load()) peak.store(now);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  int32_t bytes = 0;
  writeSnapshotDocument(path.c_str(), "/src", "bench", t, &bytes);
  done.store(true);
  sampler.join();
  platform::removeFile(path.c_str());
  state.counters["peak_x_file"] = static_cast<double>(peak.load() - before) / documentSize();
  double perIteration = total / static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * documentSize());
  if (results.baselineSeconds > 0)
    state.counters["x_baseline"] = perIteration / results.baselineSeconds;
  if (results.treesSeconds > 0) state.counters["x_trees"] = perIteration / results.treesSeconds;
}

BENCHMARK(SnapshotBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SnapshotTrees)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SnapshotDocument)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
