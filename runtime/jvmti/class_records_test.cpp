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

// Writes a description as java.io.DataOutputStream does.
struct Writer {
  std::vector<uint8_t> bytes;
  void u1(uint32_t v) { bytes.push_back(static_cast<uint8_t>(v)); }
  void u2(uint32_t v) {
    u1(v >> 8);
    u1(v & 0xFF);
  }
  void u4(uint32_t v) {
    u2(v >> 16);
    u2(v & 0xFFFF);
  }
  void utf(const std::string& s) {
    u2(static_cast<uint32_t>(s.size()));
    bytes.insert(bytes.end(), s.begin(), s.end());
  }
};

struct MethodSpec {
  uint32_t id;
  uint16_t access;
  const char* name;
  const char* desc;
  std::vector<uint16_t> lines;
};

std::vector<uint8_t> describe(uint32_t kind, uint32_t classId, const char* name, const char* source,
                              const std::vector<MethodSpec>& methods) {
  Writer w;
  w.u1(1);
  w.u1(kind);
  w.u4(classId);
  w.u2(0x21);
  w.utf(name);
  w.u1(source != nullptr ? 1 : 0);
  if (source != nullptr) w.utf(source);
  w.u2(static_cast<uint32_t>(methods.size()));
  for (const MethodSpec& m : methods) {
    w.u4(m.id);
    w.u2(m.access);
    w.utf(m.name);
    w.utf(m.desc);
    w.u2(static_cast<uint32_t>(m.lines.size()));
    for (uint16_t line : m.lines) w.u2(line);
  }
  return w.bytes;
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
  std::vector<uint8_t> d = describe(2, 10, "app/Main", "Main.java", kMethods);
  ClassRecords r;
  ASSERT_TRUE(buildClassRecords(d.data(), d.size(), &r));
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
  std::vector<uint8_t> d = describe(2, 99, "", nullptr, methods);
  ClassRecords r;
  ASSERT_TRUE(buildClassRecords(d.data(), d.size(), &r));
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
  std::vector<uint8_t> d = describe(2, 10, "app/Main", "Main.java", kMethods);
  ClassRecords r;
  ASSERT_TRUE(buildClassRecords(d.data(), d.size(), &r));
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
  std::vector<uint8_t> d = describe(2, 10, "app/Main", "Main.java",
                                    {{11, 0x0001, "big", "()V", {}},
                                     {12, 0x0001, "two", "()V", {5, 6}},
                                     {13, 0x0001, "four", "()V", {7, 8, 9, 10}}});
  ClassRecords r;
  ASSERT_TRUE(buildClassRecords(d.data(), d.size(), &r, &block));
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

TEST(CciClassRecords, ABlockWithoutRoomForTheDescriptionIsRefused) {
  std::vector<uint8_t> d = describe(2, 10, "app/Main", "Main.java", kMethods);
  ClassRecords r;
  RecordBlock small;
  allocateRecordBlock({1, 3, 0}, &small);  // run has 4 slots
  EXPECT_FALSE(buildClassRecords(d.data(), d.size(), &r, &small));
  RecordBlock fewer;
  allocateRecordBlock({1, 4}, &fewer);  // two methods for three
  EXPECT_FALSE(buildClassRecords(d.data(), d.size(), &r, &fewer));
  freeRecordBlock(&small);
  freeRecordBlock(&fewer);
  EXPECT_EQ(small.methods, nullptr);
}

TEST(CciClassRecords, InterfacesAndMissingSourceNames) {
  std::vector<uint8_t> d = describe(3, 20, "app/Shape", nullptr, {{21, 0x0401, "area", "()D", {}}});
  ClassRecords r;
  ASSERT_TRUE(buildClassRecords(d.data(), d.size(), &r));
  keep(r.classObject);
  ASSERT_EQ(r.classObject->type, static_cast<uint32_t>(kCObjectInterface));
  const CInterface* i = static_cast<const CInterface*>(r.classObject->record);
  EXPECT_EQ(i->id, 20u);
  EXPECT_STREQ(i->name, "app/Shape");
  EXPECT_EQ(i->sourceName, nullptr);
  EXPECT_EQ(i->methodCount, 1);
  EXPECT_EQ(i->methods[0].id, 21u);
}

TEST(CciClassRecords, MalformedDescriptionsAreRefused) {
  std::vector<uint8_t> d = describe(2, 10, "app/Main", "Main.java", kMethods);
  ClassRecords r;
  for (size_t cut = 0; cut < d.size(); cut++) {
    EXPECT_FALSE(buildClassRecords(d.data(), cut, &r)) << "truncated at " << cut;
  }
  std::vector<uint8_t> longer = d;
  longer.push_back(0);
  EXPECT_FALSE(buildClassRecords(longer.data(), longer.size(), &r));
  std::vector<uint8_t> badFormat = d;
  badFormat[0] = 2;
  EXPECT_FALSE(buildClassRecords(badFormat.data(), badFormat.size(), &r));
  std::vector<uint8_t> badKind = d;
  badKind[1] = 4;
  EXPECT_FALSE(buildClassRecords(badKind.data(), badKind.size(), &r));
}

TEST(CciClassRecords, RegisteringPutsClassAndMethodsInTheTableAndTheClassOnTheList) {
  QMHashTable* table = QMHashNew(8, nullptr, nullptr, "IDToCObjects", 0);
  QMVector* list = QMNewVector(0);
  keep(table);
  keep(list);
  void* tableLock = newMonitor("table");
  void* listLock = newMonitor("list");
  std::vector<uint8_t> d = describe(2, 10, "app/Main", "Main.java", kMethods);
  ClassRecords r;
  ASSERT_TRUE(buildClassRecords(d.data(), d.size(), &r));
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
