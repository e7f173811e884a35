// The snapshot of a real program's table: CCOVER_REPLAY names a .snp (an exit
// snapshot of bench/startup's program, say), whose classes, interfaces and
// methods, with their texts, lines and counters, are rebuilt in the testing
// runtime; then
//
//   SnapshotReplay   writeSnapshotDocument of that table
//
// The shapes and sizes are the real ones, without a JVM's noise around them.
// With CCOVER_REPLAY_OUT set, the roots of the rebuilt table (ClassRoot,
// MethodRoot; no signature, which holds the time) are written there once
// first: two builds that only write faster must give the same bytes (cmp).
// Without CCOVER_REPLAY the benchmark is not registered.
//
//   CCOVER_REPLAY=run.snp CCOVER_REPLAY_OUT=roots.bin \
//     build/linux-x64/bin/ccover_bench --benchmark_filter=SnapshotReplay
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "runtime/testing/cci_testing.h"
#include "snapshot/document.h"
#include "snapshot/format.h"
#include "support/reader.h"

namespace {

const SEView* member(const SEView* named, const char* key) {
  for (int32_t i = 0; i < named->count; i++) {
    if (strcmp(named->members[i].key, key) == 0) return named->members[i].value;
  }
  return nullptr;
}

int64_t number(const SEView* named, const char* key) {
  const SEView* v = member(named, key);
  return v != nullptr && v->kind == SE_INT32 ? v->number : 0;
}

const char* text(const SEView* named, const char* key) {
  const SEView* v = member(named, key);
  return v != nullptr && v->kind == SE_STRING ? v->bytes : nullptr;
}

// A list of integers as the values of member key; empty when absent.
template <typename T>
std::vector<T> numbers(const SEView* named, const char* key) {
  std::vector<T> out;
  const SEView* v = member(named, key);
  if (v == nullptr || v->kind != SE_LIST) return out;
  for (int32_t i = 0; i < v->count; i++) out.push_back(static_cast<T>(v->items[i].number));
  return out;
}

struct Replay {
  std::string error;  // empty when the table was rebuilt
  int32_t objects = 0;
  QMHashTable* table = nullptr;  // the rebuilt object table
};

// Rebuilds the file's objects in the testing runtime's table, classes in
// the order of ClassRoot, each with the methods its "mid" lists.
Replay rebuild(const char* path) {
  Replay result;
  static SEReader* reader = SEReaderNew();  // its texts stay the records' names
  static std::deque<std::vector<uint16_t>> lines;
  SESnapshotView file;
  if (reader == nullptr || !SEReadSnapshotFile(reader, path, &file)) {
    result.error = std::string(path) + ": " + (reader != nullptr ? SEReaderError(reader) : "");
    return result;
  }
  if (file.count != 4) {
    result.error = std::string(path) + ": not a snapshot of four items";
    return result;
  }
  const SEView* classRoot = &file.items[2];
  const SEView* methodRoot = &file.items[3];
  std::unordered_map<uint32_t, const SEView*> methods;
  for (int32_t i = 0; i < methodRoot->count; i++) {
    methods[static_cast<uint32_t>(atoi(methodRoot->members[i].key))] = methodRoot->members[i].value;
  }
  cciTestReset();
  for (int32_t i = 0; i < classRoot->count; i++) {
    const SEView* c = classRoot->members[i].value;
    uint32_t id = static_cast<uint32_t>(number(c, snapkey::kId));
    std::vector<uint32_t> ids = numbers<uint32_t>(c, snapkey::kMethodIds);
    std::vector<CciTestMethodSpec> entries;
    for (uint32_t methodId : ids) {
      CciTestMethodSpec entry = {methodId, nullptr, nullptr, 0, 0, nullptr};
      auto found = methods.find(methodId);
      if (found != methods.end()) {
        const SEView* m = found->second;
        entry.name = text(m, snapkey::kName);
        entry.signature = text(m, snapkey::kSignatureText);
        entry.accessFlags = static_cast<uint16_t>(number(m, snapkey::kAccessFlags));
        lines.push_back(numbers<uint16_t>(m, snapkey::kLineNumbers));
        entry.lineCount = static_cast<uint16_t>(lines.back().size());
        entry.lineNumbers = lines.back().data();
      }
      entries.push_back(entry);
    }
    const char* name = text(c, snapkey::kName);
    const char* sourceName = text(c, snapkey::kSourceName);
    uint16_t flags = static_cast<uint16_t>(number(c, snapkey::kAccessFlags));
    CMethod* records = nullptr;
    if (number(c, snapkey::kType) == 'i') {
      CInterface* record = cciTestAddInterface(id, name, sourceName, flags, entries.data(),
                                               static_cast<int32_t>(entries.size()));
      records = record->methods;
    } else if (member(c, snapkey::kLoaded) != nullptr) {
      cciTestAddClass(id, name, nullptr, 0, 0, nullptr, 0);
    } else {
      CClass* record = cciTestAddClass(id, name, sourceName, flags, 1, entries.data(),
                                       static_cast<int32_t>(entries.size()));
      record->coverage = static_cast<uint16_t>(number(c, snapkey::kCoverage));
      record->coverageAtMark = static_cast<uint16_t>(number(c, snapkey::kCoverageAtMark));
      record->coverageSinceMark = static_cast<uint16_t>(number(c, snapkey::kCoverageSinceMark));
      record->hasLines = member(c, snapkey::kLineCount) != nullptr ? 1 : 0;
      record->lineCount = static_cast<uint16_t>(number(c, snapkey::kLineCount));
      record->missedLines = static_cast<int32_t>(number(c, snapkey::kMissedLines));
      record->missedLinesSinceMark =
          static_cast<int32_t>(number(c, snapkey::kMissedLinesSinceMark));
      records = record->methods;
    }
    result.objects += 1 + static_cast<int32_t>(entries.size());
    for (size_t k = 0; records != nullptr && k < entries.size(); k++) {
      auto found = methods.find(entries[k].id);
      if (found == methods.end()) continue;
      const SEView* m = found->second;
      CMethod& record = records[k];
      record.classId = static_cast<uint32_t>(number(m, snapkey::kClassId));
      record.invocations = static_cast<uint32_t>(number(m, snapkey::kInvocations));
      record.markedInvocations = static_cast<uint32_t>(number(m, snapkey::kMarkedInvocations));
      std::vector<uint32_t> hits = numbers<uint32_t>(m, snapkey::kHits);
      std::vector<uint32_t> marked = numbers<uint32_t>(m, snapkey::kMarkedHits);
      for (size_t s = 0; s < record.lineCount && s < hits.size() && s < marked.size(); s++) {
        record.hits[s] = hits[s];
        record.markedHits[s] = marked[s];
      }
    }
  }
  result.table = cciGetCObjectsByID();
  return result;
}

bool writeRoots(const char* path) {
  SEStream* stream = SEOpenFile(path);
  if (stream == nullptr) return false;
  QMHashTable* table = cciGetCObjectsByID();
  bool built = writeClassRoot(stream, table);
  built = writeMethodRoot(stream, table) && built;
  return SEClose(stream) && built;
}

void SnapshotReplay(benchmark::State& state, const Replay& replay) {
  if (!replay.error.empty()) {
    state.SkipWithError(replay.error.c_str());
    return;
  }
  if (cciGetCObjectsByID() != replay.table) {
    state.SkipWithError(
        "another benchmark replaced the table: run with --benchmark_filter=SnapshotReplay");
    return;
  }
  char path[4096];
  if (!platform::createTempFile(path, sizeof path)) {
    state.SkipWithError("no temporary file");
    return;
  }
  int32_t bytes = 0;
  for (auto _ : state) {
    if (!writeSnapshotDocument(path, nullptr, "replay", replay.table, &bytes)) {
      state.SkipWithError("snapshot failed");
    }
  }
  platform::removeFile(path);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
  state.counters["objects"] = replay.objects;
  state.counters["file_MB"] = bytes / 1e6;
}

const bool registered = [] {
  const char* path = getenv("CCOVER_REPLAY");
  if (path == nullptr || path[0] == '\0') return false;
  static Replay replay = rebuild(path);
  const char* out = getenv("CCOVER_REPLAY_OUT");
  if (replay.error.empty() && out != nullptr && out[0] != '\0' && !writeRoots(out)) {
    replay.error = std::string("cannot write ") + out;
  }
  benchmark::RegisterBenchmark("SnapshotReplay", SnapshotReplay, replay)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  return true;
}();

}  // namespace
