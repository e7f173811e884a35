// Many threads counting at once while the Java side marks, updates, answers and
// writes snapshots: every event must be counted exactly once, and every
// snapshot taken meanwhile must decode with counters no larger than the final
// ones. Run under ThreadSanitizer by the linux-x64-tsan preset.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "agent/handlers.h"
#include "agent/start.h"
#include "answers/answers.h"
#include "model/figures.h"
#include "model/object_table.h"
#include "model/update_cycle.h"
#include "runtime/testing/cci_testing.h"
#include "snapshot/generation.h"
#include "support/reader.h"
#include "tests/harness/jvm.h"
#include "tests/support/java_values.h"

namespace {

constexpr int kThreads = 8;
constexpr int kMethods = 64;
constexpr int kMethodsPerClass = 8;
constexpr int kSlots = 10;
constexpr int kEventsPerThread = 100000;
constexpr uint32_t kFirstClassId = 5000;

uint32_t classId(int c) { return kFirstClassId + static_cast<uint32_t>(c) * 100; }
uint32_t methodId(int m) { return classId(m / kMethodsPerClass) + 1 + m % kMethodsPerClass; }

// The event a thread sends at step i: which method, which handler, which slot.
struct Event {
  int method;
  int kind;  // 0 entryLine, 1 line, 2 entry
  int slot;
};

Event eventAt(int thread, int i) {
  // Half of the events go to two hot methods that every thread shares, one of
  // them synchronized, so that increments collide; the rest spread out.
  int method = i % 2 == 1 ? (i * 7 + thread * 5) % kMethods : (i % 4 == 0 ? 0 : 1);
  return Event{method, i % 3, (i / 3 + thread) % kSlots};
}

struct Workload {
  std::vector<CClass*> classes;
  std::vector<CMethod*> methods;
  std::vector<uint32_t> expectedInvocations = std::vector<uint32_t>(kMethods);
  std::vector<uint32_t> expectedHits = std::vector<uint32_t>(size_t{kMethods} * kSlots);

  void build() {
    cciTestReset();
    bindObjectTables();
    for (int c = 0; c < kMethods / kMethodsPerClass; c++) {
      std::vector<CciTestMethodSpec> methodShapes;
      for (int k = 0; k < kMethodsPerClass; k++) {
        int m = c * kMethodsPerClass + k;
        uint16_t flags = m % 4 == 0 ? 0x20 : 0;  // some synchronized methods
        methodShapes.push_back({methodId(m), "work", "()V", flags, kSlots, nullptr});
      }
      CClass* cls = cciTestAddClass(classId(c), "app/Stress", "Stress.java", 1, 1,
                                    methodShapes.data(), kMethodsPerClass);
      classes.push_back(cls);
      for (int k = 0; k < kMethodsPerClass; k++) methods.push_back(&cls->methods[k]);
    }
    for (int t = 0; t < kThreads; t++) {
      for (int i = 0; i < kEventsPerThread; i++) {
        Event e = eventAt(t, i);
        if (e.kind != 1) expectedInvocations[e.method]++;
        if (e.kind == 0) expectedHits[static_cast<size_t>(e.method) * kSlots]++;
        if (e.kind == 1) expectedHits[e.method * kSlots + e.slot]++;
      }
    }
  }
};

void countingThread(int thread) {
  int envStandIn = thread;
  JNIEnv* env = reinterpret_cast<JNIEnv*>(&envStandIn);
  for (int i = 0; i < kEventsPerThread; i++) {
    Event e = eventAt(thread, i);
    jint id = static_cast<jint>(methodId(e.method));
    switch (e.kind) {
      case 0:
        entryLineHandler(env, id, 0);
        break;
      case 1:
        lineHandler(env, id, e.slot);
        break;
      default:
        entryHandler(env, id);
        break;
    }
  }
  threadEndHandler(env);
}

// Every counter of every method in a snapshot file, by method ID.
struct SnapshotCounters {
  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> hits;
  std::vector<std::pair<uint32_t, uint32_t>> invocations;
};

bool readCounters(const std::string& path, SnapshotCounters* out, std::string* error) {
  SEReader* reader = SEReaderNew();
  SESnapshotView view;
  bool ok = SEReadSnapshotFile(reader, path.c_str(), &view) && view.count == 4;
  if (!ok) *error = SEReaderError(reader);
  for (int32_t i = 0; ok && i < view.items[3].count; i++) {
    const SEViewMember& member = view.items[3].members[i];
    uint32_t id = static_cast<uint32_t>(atol(member.key));
    const SEView* invocations = SEViewFind(member.value, "i");
    const SEView* counts = SEViewFind(member.value, "lc");
    if (invocations == nullptr || counts == nullptr) {
      *error = "method without counters";
      ok = false;
      break;
    }
    out->invocations.push_back({id, static_cast<uint32_t>(invocations->number)});
    std::vector<uint32_t> slots;
    slots.reserve(static_cast<size_t>(counts->count));
    for (int32_t k = 0; k < counts->count; k++) {
      slots.push_back(static_cast<uint32_t>(counts->items[k].number));
    }
    out->hits.push_back({id, slots});
  }
  SEReaderFree(reader);
  return ok;
}

void runStress(JNIEnv* answerEnv) {
  Workload w;
  w.build();
  std::atomic<bool> done{false};
  std::vector<std::string> snapshots;

  // The Java side: marks, updates and snapshots while the program counts.
  std::string dir = std::string(CCOVER_BINARY_DIR) + "/scratch";
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  ASSERT_FALSE(error) << error.message();
  std::thread control([&] {
    // At least one round, however quickly the counting threads finish.
    for (int round = 0; round == 0 || !done.load(); round++) {
      if (round % 3 == 0) markClasses();
      freeClassList(updateTouchedClasses());
      if (round % 5 == 0 && snapshots.size() < 6) {
        std::string path = dir + "/stress-" + std::to_string(snapshots.size()) + ".snp";
        if (generateSnapshotFile(nullptr, path.c_str(), nullptr, nullptr, nullptr, nullptr, true,
                                 objectTables.idToCObjects, objectTables.idToCObjectsLock)) {
          snapshots.push_back(path);
        }
      }
      std::this_thread::yield();
    }
  });
  std::thread answers;
  if (answerEnv != nullptr) {
    answers = std::thread([&] {
      ScopedJvmThread attached;
      JNIEnv* env = attached.env();
      std::vector<jint> ids;
      ids.reserve(kMethods / kMethodsPerClass);
      for (int c = 0; c < kMethods / kMethodsPerClass; c++)
        ids.push_back(static_cast<jint>(classId(c)));
      while (!done.load()) {
        env->PushLocalFrame(64);
        jobject table = newJavaTable(env);
        fillAllClassCoverageAnswer(env, table);
        fillMethodAnswer(env, table, javaInts(env, ids), true);
        fillClassCoverageAnswer(env, table, javaInts(env, ids));
        env->PopLocalFrame(nullptr);
      }
    });
  }
  std::vector<std::thread> counting;
  counting.reserve(kThreads);
  for (int t = 0; t < kThreads; t++) counting.emplace_back(countingThread, t);
  for (std::thread& t : counting) t.join();
  done.store(true);
  control.join();
  if (answers.joinable()) answers.join();

  for (int m = 0; m < kMethods; m++) {
    ASSERT_EQ(w.methods[m]->invocations, w.expectedInvocations[m]) << "method " << m;
    for (int k = 0; k < kSlots; k++) {
      ASSERT_EQ(w.methods[m]->hits[k], w.expectedHits[m * kSlots + k]) << m << " slot " << k;
    }
  }
  EXPECT_FALSE(snapshots.empty());
  for (const std::string& path : snapshots) {
    SnapshotCounters counters;
    std::string error;
    ASSERT_TRUE(readCounters(path, &counters, &error)) << path << ": " << error;
    EXPECT_EQ(counters.hits.size(), static_cast<size_t>(kMethods));
    for (const auto& [id, slots] : counters.hits) {
      int m = static_cast<int>(((id - kFirstClassId) / 100) * kMethodsPerClass +
                               (id - kFirstClassId) % 100 - 1);
      ASSERT_EQ(slots.size(), static_cast<size_t>(kSlots));
      for (int k = 0; k < kSlots; k++) EXPECT_LE(slots[k], w.methods[m]->hits[k]);
    }
    for (const auto& [id, invocations] : counters.invocations) {
      int m = static_cast<int>(((id - kFirstClassId) / 100) * kMethodsPerClass +
                               (id - kFirstClassId) % 100 - 1);
      EXPECT_LE(invocations, w.methods[m]->invocations);
    }
  }
  // The last update leaves figures that match the counters exactly.
  markClasses();
  freeClassList(updateTouchedClasses());
  for (size_t c = 0; c < w.classes.size(); c++) {
    uint32_t executed = 0;
    for (int k = 0; k < kMethodsPerClass * kSlots; k++) {
      if (w.expectedHits[c * kMethodsPerClass * kSlots + k] != 0) executed++;
    }
    EXPECT_EQ(w.classes[c]->coverage, fixedPointFraction(executed, kMethodsPerClass * kSlots));
    EXPECT_EQ(w.classes[c]->coverageSinceMark, 0);
    EXPECT_EQ(w.classes[c]->coverageAtMark, w.classes[c]->coverage);
  }
}

TEST(Stress, EightThreadsCountEveryEventWhileMarkingAndSnapshotting) { runStress(nullptr); }

class JvmStress : public JvmTest {};

TEST_F(JvmStress, AnswersRunWhileThreadsCount) {
  ASSERT_EQ(startAgent(env(), JNI_FALSE, JNI_FALSE), 0);
  runStress(env());
}

}  // namespace
