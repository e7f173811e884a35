#include "runtime/jvmti/class_records.h"

#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/jvmti/monitor.h"
#include "support/hash_table.h"
#include "support/vector.h"

namespace cci_jvmti {
namespace {

struct MethodSpec {
  uint32_t id;  // classId + 1 + its index, as the hook numbers them
  uint16_t access;
  const char* name;
  const char* desc;
  std::vector<uint16_t> lines;
};

// An outline as classfile writes it, of a class (kind 2) or an interface (3).
classfile::ClassOutline outlineOf(uint32_t kind, const char* name, const char* source,
                                  const std::vector<MethodSpec>& methods) {
  classfile::ClassOutline o;
  o.name = name;
  o.hasSourceFile = source != nullptr;
  o.sourceFile = source != nullptr ? source : "";
  o.accessFlags = kind == 3 ? 0x0601 : 0x21;
  for (const MethodSpec& m : methods) {
    o.methods.push_back({m.name, m.desc, m.access, m.lines, classfile::MethodOutcome::kCounted,
                         classfile::MethodReason::kNone});
  }
  return o;
}

// The records of an outline in a block of their own, as for exact probes.
bool build(const classfile::ClassOutline& outline, uint32_t classId, ClassRecords* out) {
  RecordBlock block;
  allocateRecordBlock(outline, &block);
  if (buildClassRecords(outline, classId, block, out)) return true;
  freeRecordBlock(&block);
  return false;
}

// Records live until the process ends, as in the runtime; keeping them
// reachable from here tells leak checkers so.
void keep(const void* block) {
  static std::vector<const void*>* kept = new std::vector<const void*>();
  kept->push_back(block);
}

const std::vector<MethodSpec> kMethods = {
    {11, 0x0001, "<init>", "()V", {3}},
    {12, 0x0029, "run", "(I)I", {7, 8, 8, 10}},
    {13, 0x0401, "todo", "()V", {}},
};

TEST(CciClassRecords, ClassRecordsCarryEveryField) {
  classfile::ClassOutline o = outlineOf(2, "app/Main", "Main.java", kMethods);
  o.methods[2].outcome = classfile::MethodOutcome::kNotInstrumented;
  o.methods[0].outcome = classfile::MethodOutcome::kEntryOnly;
  ClassRecords r;
  ASSERT_TRUE(build(o, 10, &r));
  keep(r.classObject);
  ASSERT_EQ(r.classObject->type, static_cast<uint32_t>(kCObjectClass));
  const CClass* c = static_cast<const CClass*>(r.classObject->record);
  EXPECT_EQ(c->id, 10u);
  EXPECT_EQ(c->accessFlags, 0x21);
  EXPECT_STREQ(c->name, "app/Main");
  EXPECT_STREQ(c->sourceName, "Main.java");
  EXPECT_EQ(c->loaded, 1);
  EXPECT_EQ(c->methodCount, 3);
  EXPECT_EQ(c->lineCount, 5);
  EXPECT_EQ(c->hasLines, 1);
  EXPECT_EQ(c->coverage, 0);
  EXPECT_EQ(c->missedLines, 0);
  ASSERT_EQ(c->methods, r.methods);
  const CMethod& run = c->methods[1];
  EXPECT_EQ(run.id, 12u);
  EXPECT_EQ(run.classId, 10u);
  EXPECT_STREQ(run.name, "run");
  EXPECT_STREQ(run.signature, "(I)I");
  EXPECT_EQ(run.accessFlags & 0x20, 0x20);
  ASSERT_EQ(run.lineCount, 4);
  EXPECT_EQ(run.lineNumbers[0], 7);
  EXPECT_EQ(run.lineNumbers[2], 8);
  EXPECT_EQ(run.lineNumbers[3], 10);
  EXPECT_EQ(run.hits[3], 0u);
  EXPECT_EQ(run.markedHits[3], 0u);
  EXPECT_EQ(run.invocations, 0u);
  EXPECT_EQ(run.touched, 0);
  EXPECT_NE(run.lock, nullptr);
  const CMethod& todo = c->methods[2];
  EXPECT_EQ(todo.lineCount, 0);
  EXPECT_EQ(todo.lineNumbers, nullptr);
  EXPECT_EQ(todo.hits, nullptr);
  EXPECT_NE(todo.lock, run.lock);
  EXPECT_EQ(run.uncounted, kUncountedNone);
  EXPECT_EQ(todo.uncounted, kUncountedMethod);
  EXPECT_EQ(c->methods[0].uncounted, kUncountedLines);
  // The table's entries of the methods point at the records themselves.
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(r.methodObjects[i].type, static_cast<uint32_t>(kCObjectMethod));
    EXPECT_EQ(r.methodObjects[i].record, &r.methods[i]);
  }
}

// Texts of every length, empty ones included, come back whole and ended, side
// by side in their shared block; every method gets a monitor of its own that
// threads can enter at once.
TEST(CciClassRecords, ManyMethodsKeepTheirTextsAndMonitorsApart) {
  std::vector<std::string> names, signatures;
  std::vector<MethodSpec> methods;
  for (uint32_t i = 0; i < 40; i++) {
    names.push_back(std::string(i % 7, static_cast<char>('a' + i % 26)));
    signatures.push_back("(" + std::string(i, 'I') + ")V");
  }
  for (uint32_t i = 0; i < 40; i++) {
    methods.push_back({100 + i, 0x0001, names[i].c_str(), signatures[i].c_str(), {}});
  }
  ClassRecords r;
  ASSERT_TRUE(build(outlineOf(2, "", nullptr, methods), 99, &r));
  keep(r.classObject);
  EXPECT_STREQ(static_cast<const CClass*>(r.classObject->record)->name, "");
  for (uint32_t i = 0; i < 40; i++) {
    EXPECT_STREQ(r.methods[i].name, names[i].c_str()) << i;
    EXPECT_STREQ(r.methods[i].signature, signatures[i].c_str()) << i;
  }
  // Four threads, each through every method's monitor many times; the plain
  // counters inside stay exact only if each monitor excludes on its own.
  std::vector<long> counts(40, 0);
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 500; round++) {
        for (uint32_t k = 0; k < 40; k++) {
          uint32_t i = (k + static_cast<uint32_t>(t) * 10) % 40;
          enterMonitor(r.methods[i].lock);
          counts[i] = counts[i] + 1;
          exitMonitor(r.methods[i].lock);
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (uint32_t i = 0; i < 40; i++) EXPECT_EQ(counts[i], 2000) << i;
}

TEST(CciClassRecords, TheRecordsAndTheirArraysAreOneBlock) {
  ClassRecords r;
  ASSERT_TRUE(build(outlineOf(2, "app/Main", "Main.java", kMethods), 10, &r));
  keep(r.classObject);
  const CMethod* m = r.methods;
  // Counters first, right after the three records, method after method; the
  // marked counters and line numbers follow in the same order.
  const uint32_t* counters = reinterpret_cast<const uint32_t*>(m + 3);
  EXPECT_EQ(m[0].hits, counters);
  EXPECT_EQ(m[1].hits, counters + 1);
  EXPECT_EQ(m[0].markedHits, counters + 5);
  EXPECT_EQ(m[1].markedHits, counters + 6);
  EXPECT_EQ(m[0].lineNumbers, reinterpret_cast<const uint16_t*>(counters + 10));
  EXPECT_EQ(m[1].lineNumbers, m[0].lineNumbers + 1);
  EXPECT_EQ(m[1].lineNumbers[0], 7);
}

TEST(CciClassRecords, AGivenBlockKeepsItsLayoutWhereAMethodLostItsSlots) {
  // Inline probes were written for 1, 2 and 4 slots; the first method kept
  // none of its slot (too large), the third has 4.
  RecordBlock block;
  allocateRecordBlock({1, 2, 4}, &block);
  ASSERT_EQ(reinterpret_cast<CMethod*>(block.counters), block.methods + 3);
  classfile::ClassOutline o = outlineOf(2, "app/Main", "Main.java",
                                        {{11, 0x0001, "big", "()V", {}},
                                         {12, 0x0001, "two", "()V", {5, 6}},
                                         {13, 0x0001, "four", "()V", {7, 8, 9, 10}}});
  ClassRecords r;
  ASSERT_TRUE(buildClassRecords(o, 10, block, &r));
  keep(r.classObject);
  ASSERT_EQ(r.methods, block.methods);
  EXPECT_EQ(r.methods[0].hits, nullptr);
  EXPECT_EQ(r.methods[0].lineCount, 0);
  EXPECT_EQ(r.methods[1].hits, block.counters + 1);
  EXPECT_EQ(r.methods[2].hits, block.counters + 3);
  EXPECT_EQ(r.methods[2].markedHits, block.counters + 7 + 3);
  EXPECT_EQ(r.methods[2].lineNumbers, reinterpret_cast<uint16_t*>(block.counters + 14) + 3);
  EXPECT_EQ(r.methods[2].lineNumbers[3], 10);
  EXPECT_EQ(loadRelaxed(r.methods[2].hits[3]), 0u);
  EXPECT_EQ(static_cast<const CClass*>(r.classObject->record)->lineCount, 6);
}

TEST(CciClassRecords, ABlockWithoutRoomForTheOutlineIsRefused) {
  classfile::ClassOutline o = outlineOf(2, "app/Main", "Main.java", kMethods);
  ClassRecords r;
  RecordBlock small;
  allocateRecordBlock({1, 3, 0}, &small);  // run has 4 slots
  EXPECT_FALSE(buildClassRecords(o, 10, small, &r));
  RecordBlock fewer;
  allocateRecordBlock({1, 4}, &fewer);  // two methods for three
  EXPECT_FALSE(buildClassRecords(o, 10, fewer, &r));
  // A class holds at most 65535 line slots, however its block was laid out.
  classfile::ClassOutline many =
      outlineOf(2, "app/Many", nullptr,
                {{11, 0x0001, "a", "()V", std::vector<uint16_t>(40000, 1)},
                 {12, 0x0001, "b", "()V", std::vector<uint16_t>(30000, 2)}});
  RecordBlock roomy;
  allocateRecordBlock(many, &roomy);
  EXPECT_FALSE(buildClassRecords(many, 10, roomy, &r));
  freeRecordBlock(&roomy);
  freeRecordBlock(&small);
  freeRecordBlock(&fewer);
  EXPECT_EQ(small.methods, nullptr);
}

TEST(CciClassRecords, InterfacesAndMissingSourceNames) {
  ClassRecords r;
  ASSERT_TRUE(build(outlineOf(3, "app/Shape", nullptr, {{21, 0x0401, "area", "()D", {}}}), 20, &r));
  keep(r.classObject);
  ASSERT_EQ(r.classObject->type, static_cast<uint32_t>(kCObjectInterface));
  const CInterface* i = static_cast<const CInterface*>(r.classObject->record);
  EXPECT_EQ(i->id, 20u);
  EXPECT_EQ(i->accessFlags, 0x0601);
  EXPECT_STREQ(i->name, "app/Shape");
  EXPECT_EQ(i->sourceName, nullptr);
  EXPECT_EQ(i->methodCount, 1);
  EXPECT_EQ(i->methods[0].id, 21u);
}

TEST(CciClassRecords, RegisteringPutsClassAndMethodsInTheTableAndTheClassOnTheList) {
  QMHashTable* table = QMHashNew(8, nullptr, nullptr, "IDToCObjects", 0);
  QMVector* list = QMNewVector(0);
  keep(table);
  keep(list);
  void* tableLock = newMonitor("table");
  void* listLock = newMonitor("list");
  ClassRecords r;
  ASSERT_TRUE(build(outlineOf(2, "app/Main", "Main.java", kMethods), 10, &r));
  registerClassRecords(r, table, tableLock, list, listLock);
  keep(tableLock);
  keep(listLock);
  EXPECT_EQ(QMHashCount(table), 4);
  EXPECT_EQ(reinterpret_cast<CObject*>(QMHashGet(table, 10)), r.classObject);
  for (int i = 0; i < 3; i++) {
    CObject* m = reinterpret_cast<CObject*>(QMHashGet(table, 11 + i));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->type, static_cast<uint32_t>(kCObjectMethod));
    // The table's record is the element of the class's array itself.
    EXPECT_EQ(m->record, &r.methods[i]);
  }
  ASSERT_EQ(QMSize(list), 1);
  EXPECT_EQ(QMElementAt(list, 0), r.classObject);
  EXPECT_FALSE(ownsMonitor(tableLock));
  EXPECT_FALSE(ownsMonitor(listLock));
}

}  // namespace
}  // namespace cci_jvmti
