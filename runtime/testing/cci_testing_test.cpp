#include "runtime/testing/cci_testing.h"

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "support/hash_table.h"
#include "support/vector.h"
#include "tests/harness/child.h"

namespace {

class TestingRuntime : public ::testing::Test {
 protected:
  void SetUp() override { cciTestReset(); }
  void TearDown() override { cciTestReset(); }
};

CciTestMethodSpec method(uint32_t id, uint16_t lines, const uint16_t* numbers = nullptr,
                         const char* name = nullptr, const char* signature = nullptr,
                         uint16_t flags = 0) {
  return CciTestMethodSpec{id, name, signature, flags, lines, numbers};
}

TEST_F(TestingRuntime, ResetGivesDefaultResults) {
  cciTestSetInitialized(0);
  cciTestSetBuildNumber(9);
  cciTestSetPassThroughResults(1, 2, 3, 4, 5);
  cciTestSetHandlersResult(6);
  cciTestReset();
  EXPECT_EQ(cciIsInitialized(), 1);
  EXPECT_EQ(cciBuildNumber(), 2);
  EXPECT_EQ(cciSuspendAllThreads(nullptr), 0);
  EXPECT_EQ(cciResumeAllThreads(nullptr), 0);
  EXPECT_EQ(cciRegisterAuditThread(nullptr), 0);
  EXPECT_EQ(cciWillProcessAuditRequest(), 0);
  EXPECT_EQ(cciDidProcessAuditRequest(), 0);
  int slots[8] = {};
  EXPECT_EQ(cciSetHandlers(nullptr, slots), 0);
}

TEST_F(TestingRuntime, SettableResultsAreReturned) {
  cciTestSetInitialized(0);
  cciTestSetBuildNumber(3);
  cciTestSetPassThroughResults(11, 12, 13, 14, 15);
  cciTestSetHandlersResult(-4);
  EXPECT_EQ(cciIsInitialized(), 0);
  EXPECT_EQ(cciBuildNumber(), 3);
  EXPECT_EQ(cciSuspendAllThreads(nullptr), 11);
  EXPECT_EQ(cciResumeAllThreads(nullptr), 12);
  EXPECT_EQ(cciRegisterAuditThread(nullptr), 13);
  EXPECT_EQ(cciWillProcessAuditRequest(), 14);
  EXPECT_EQ(cciDidProcessAuditRequest(), 15);
  void* table[8] = {};
  EXPECT_EQ(cciSetHandlers(nullptr, table), -4);
}

TEST_F(TestingRuntime, CallLogKeepsOrderAndSkipsCountedCalls) {
  EXPECT_STREQ(cciTestCallLog(), "");
  cciBuildNumber();
  cciIsInitialized();
  void* m = qmiMonitorAllocate("logged");
  qmiMonitorEnter(m);
  qmiMonitorExit(m);
  sFree(sMalloc(4));
  qmiSetThreadLocalStorage(nullptr, nullptr);
  qmiGetThreadLocalStorage(nullptr);
  cciGetCObjectsByID();
  cciGetCObjectsByIDLock();
  cciGetUnregisteredClasses();
  cciGetUnregisteredClassesLock();
  void* table[8] = {};
  cciSetHandlers(nullptr, table);
  EXPECT_STREQ(cciTestCallLog(),
               "cciBuildNumber cciIsInitialized qmiMonitorAllocate cciGetCObjectsByID "
               "cciGetCObjectsByIDLock cciGetUnregisteredClasses cciGetUnregisteredClassesLock "
               "cciSetHandlers");
  cciTestClearCallLog();
  cciWillProcessAuditRequest();
  cciDidProcessAuditRequest();
  cciSuspendAllThreads(nullptr);
  cciResumeAllThreads(nullptr);
  cciRegisterAuditThread(nullptr);
  EXPECT_STREQ(cciTestCallLog(),
               "cciWillProcessAuditRequest cciDidProcessAuditRequest cciSuspendAllThreads "
               "cciResumeAllThreads cciRegisterAuditThread");
}

TEST_F(TestingRuntime, CapturesHandlerTable) {
  EXPECT_EQ(cciTestHandlerTable(), nullptr);
  EXPECT_EQ(cciTestHandler(1), nullptr);
  int marks[8];
  void* table[8];
  for (int i = 0; i < 8; i++) table[i] = &marks[i];
  cciSetHandlers(nullptr, table);
  EXPECT_EQ(cciTestHandlerTable(), table);
  for (int i = 0; i < 8; i++) EXPECT_EQ(cciTestHandler(i), &marks[i]) << i;
  EXPECT_EQ(cciTestHandler(-1), nullptr);
  EXPECT_EQ(cciTestHandler(8), nullptr);
  cciTestReset();
  EXPECT_EQ(cciTestHandlerTable(), nullptr);
}

TEST_F(TestingRuntime, ObjectTableIsAnEmptyIntegerKeyedTable) {
  QMHashTable* t = cciGetCObjectsByID();
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t->name, "IDToCObjects");
  EXPECT_EQ(t->count, 0);
  EXPECT_EQ(t->bucketCount, 8);
  EXPECT_EQ(t->extraWords, 0);
  EXPECT_EQ(t->hashFn, nullptr);
  EXPECT_EQ(t->equalFn, nullptr);
  EXPECT_EQ(t->flags, kQMHashMoveToFront);
  QMVector* list = cciGetUnregisteredClasses();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(QMSize(list), 0);
  EXPECT_NE(cciGetCObjectsByIDLock(), nullptr);
  EXPECT_NE(cciGetUnregisteredClassesLock(), nullptr);
  EXPECT_NE(cciGetCObjectsByIDLock(), cciGetUnregisteredClassesLock());
}

TEST_F(TestingRuntime, ResetMakesNewTablesAndKeepsOldRecords) {
  QMHashTable* oldTable = cciGetCObjectsByID();
  CClass* c = cciTestAddClass(1, "A", nullptr, 0, 1, nullptr, 0);
  cciTestReset();
  EXPECT_NE(cciGetCObjectsByID(), oldTable);
  EXPECT_EQ(cciTestObject(1), nullptr);
  EXPECT_EQ(QMHashCount(oldTable), 1);  // still readable
  EXPECT_STREQ(c->name, "A");
}

TEST_F(TestingRuntime, AddClassBuildsRecordsAsCciHandsThemOver) {
  const uint16_t lines[] = {10, 12, 15};
  CciTestMethodSpec methodShapes[] = {
      method(11, 3, lines, "run", "(I)V", 0x20),
      method(12, 0),
      method(13, 2),
  };
  CClass* c = cciTestAddClass(10, "pkg/Widget", "Widget.java", 0x21, 1, methodShapes, 3);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->id, 10u);
  EXPECT_EQ(c->accessFlags, 0x21);
  EXPECT_STREQ(c->name, "pkg/Widget");
  EXPECT_STREQ(c->sourceName, "Widget.java");
  EXPECT_EQ(c->loaded, 1);
  EXPECT_EQ(c->methodCount, 3);
  EXPECT_EQ(c->hasLines, 1);
  EXPECT_EQ(c->lineCount, 5);
  EXPECT_EQ(c->coverage, 0);
  EXPECT_EQ(c->missedLines, 0);

  // One array, one record after another.
  const char* base = reinterpret_cast<const char*>(c->methods);
  EXPECT_EQ(reinterpret_cast<const char*>(&c->methods[2]) - base, 2 * sizeof(CMethod));
  if (sizeof(void*) == 4) EXPECT_EQ(sizeof(CMethod), 48u);

  const CMethod& run = c->methods[0];
  EXPECT_EQ(run.id, 11u);
  EXPECT_EQ(run.classId, 10u);
  EXPECT_STREQ(run.name, "run");
  EXPECT_STREQ(run.signature, "(I)V");
  EXPECT_EQ(run.accessFlags, 0x20);
  EXPECT_EQ(run.lineCount, 3);
  EXPECT_EQ(run.lineNumbers[0], 10);
  EXPECT_EQ(run.lineNumbers[2], 15);
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(run.hits[i], 0u);
    EXPECT_EQ(run.markedHits[i], 0u);
  }
  EXPECT_NE(run.hits, run.markedHits);
  EXPECT_EQ(run.invocations, 0u);
  EXPECT_EQ(run.touched, 0);

  const CMethod& noLines = c->methods[1];
  EXPECT_STREQ(noLines.name, "m12");
  EXPECT_STREQ(noLines.signature, "()V");
  EXPECT_EQ(noLines.lineCount, 0);
  EXPECT_EQ(noLines.lineNumbers, nullptr);
  EXPECT_EQ(noLines.hits, nullptr);

  const CMethod& defaulted = c->methods[2];
  EXPECT_EQ(defaulted.lineNumbers[0], 1);
  EXPECT_EQ(defaulted.lineNumbers[1], 2);

  EXPECT_NE(run.lock, nullptr);
  EXPECT_NE(run.lock, noLines.lock);
  EXPECT_EQ(cciTestMonitorNamed("method11"), run.lock);
}

TEST_F(TestingRuntime, AddClassRegistersClassAndMethodsAndQueuesClass) {
  CciTestMethodSpec methodShapes[] = {method(21, 1), method(22, 1)};
  CClass* c = cciTestAddClass(20, "A", nullptr, 0, 1, methodShapes, 2);
  QMHashTable* t = cciGetCObjectsByID();
  EXPECT_EQ(QMHashCount(t), 3);
  CObject* classObject = reinterpret_cast<CObject*>(QMHashGet(t, 20));
  ASSERT_NE(classObject, nullptr);
  EXPECT_EQ(classObject->type, static_cast<uint32_t>(kCObjectClass));
  EXPECT_EQ(classObject->record, c);
  CObject* methodObject = reinterpret_cast<CObject*>(QMHashGet(t, 22));
  ASSERT_NE(methodObject, nullptr);
  EXPECT_EQ(methodObject->type, static_cast<uint32_t>(kCObjectMethod));
  // The method's record is the element of the class's array itself.
  EXPECT_EQ(methodObject->record, &c->methods[1]);
  QMVector* list = cciGetUnregisteredClasses();
  ASSERT_EQ(QMSize(list), 1);
  EXPECT_EQ(QMElementAt(list, 0), classObject);
  EXPECT_EQ(cciTestObject(20), classObject);
}

TEST_F(TestingRuntime, ClassWithoutLinesHasNoLineInformation) {
  CciTestMethodSpec methodShapes[] = {method(31, 0)};
  CClass* c = cciTestAddClass(30, "NoLines", nullptr, 0, 1, methodShapes, 1);
  EXPECT_EQ(c->hasLines, 0);
  EXPECT_EQ(c->lineCount, 0);
}

TEST_F(TestingRuntime, UnloadedClassHasNoMethods) {
  CciTestMethodSpec methodShapes[] = {method(41, 2)};
  CClass* c = cciTestAddClass(40, "Lazy", nullptr, 0, 0, methodShapes, 1);
  EXPECT_EQ(c->loaded, 0);
  EXPECT_EQ(c->methodCount, 0);
  EXPECT_EQ(c->methods, nullptr);
  EXPECT_EQ(cciTestObject(41), nullptr);
  EXPECT_NE(cciTestObject(40), nullptr);
  EXPECT_EQ(QMSize(cciGetUnregisteredClasses()), 1);
}

TEST_F(TestingRuntime, AddInterfaceRegistersItsMethods) {
  CciTestMethodSpec methodShapes[] = {method(51, 0), method(52, 0)};
  CInterface* i = cciTestAddInterface(50, "pkg/Shape", "Shape.java", 0x601, methodShapes, 2);
  EXPECT_EQ(i->methodCount, 2);
  EXPECT_EQ(i->methods[1].id, 52u);
  EXPECT_EQ(i->methods[1].classId, 50u);
  CObject* object = cciTestObject(50);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->type, static_cast<uint32_t>(kCObjectInterface));
  EXPECT_EQ(object->record, i);
  ASSERT_NE(cciTestObject(51), nullptr);
  EXPECT_EQ(cciTestObject(51)->record, &i->methods[0]);
  EXPECT_EQ(QMElementAt(cciGetUnregisteredClasses(), 0), object);
  // An interface keeps its method count where a class keeps loaded.
  EXPECT_EQ(*reinterpret_cast<const uint16_t*>(reinterpret_cast<const char*>(i) +
                                               offsetof(CClass, loaded)),
            2);
}

TEST_F(TestingRuntime, AddObjectRegistersWithoutQueueing) {
  int record = 0;
  CObject* o = cciTestAddObject(60, 9, &record);
  EXPECT_EQ(o->type, 9u);
  EXPECT_EQ(o->record, &record);
  EXPECT_EQ(cciTestObject(60), o);
  EXPECT_EQ(QMSize(cciGetUnregisteredClasses()), 0);
  cciTestPushUnregistered(o);
  EXPECT_EQ(QMElementAt(cciGetUnregisteredClasses(), 0), o);
}

TEST_F(TestingRuntime, ObjectLookupDoesNotReorderChains) {
  int a = 0, b = 0;
  cciTestAddObject(1, kCObjectClass, &a);  // 1 and 9 share a bucket of 8
  cciTestAddObject(9, kCObjectClass, &b);
  QMHashTable* t = cciGetCObjectsByID();
  int32_t bucket = QMHashBucketIndex(t, 1);
  ASSERT_EQ(bucket, QMHashBucketIndex(t, 9));
  EXPECT_EQ(t->buckets[bucket]->key, 9u);
  EXPECT_EQ(cciTestObject(1)->record, &a);
  EXPECT_EQ(t->buckets[bucket]->key, 9u);
}

TEST_F(TestingRuntime, OwnTableWorkIsNotCountedAsAllocations) {
  int64_t live = cciTestLiveBlocks();
  int64_t allocations = cciTestAllocations();
  for (uint32_t id = 1; id <= 300; id++) {  // grows the table and the list
    CciTestMethodSpec methodShape = method(id + 1000, 2);
    cciTestAddClass(id, "C", nullptr, 0, 1, &methodShape, 1);
  }
  EXPECT_EQ(cciTestLiveBlocks(), live);
  EXPECT_EQ(cciTestAllocations(), allocations);
  EXPECT_EQ(QMHashCount(cciGetCObjectsByID()), 600);
  EXPECT_EQ(QMSize(cciGetUnregisteredClasses()), 300);
}

TEST_F(TestingRuntime, MemoryCountsLiveBlocksAndAllocations) {
  int64_t live = cciTestLiveBlocks();
  int64_t allocations = cciTestAllocations();
  void* a = sMalloc(16);
  void* b = sMalloc(0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  memset(a, 0xAB, 16);
  EXPECT_EQ(cciTestLiveBlocks(), live + 2);
  EXPECT_EQ(cciTestAllocations(), allocations + 2);
  sFree(a);
  sFree(nullptr);
  EXPECT_EQ(cciTestLiveBlocks(), live + 1);
  sFree(b);
  EXPECT_EQ(cciTestLiveBlocks(), live);
  EXPECT_EQ(cciTestAllocations(), allocations + 2);
}

TEST_F(TestingRuntime, InjectedFailureHitsTheNthAllocationOnce) {
  int64_t live = cciTestLiveBlocks();
  cciTestFailAllocation(3);
  void* first = sMalloc(8);
  // The runtime's own work does not consume the pending failure.
  cciTestAddClass(1, "A", nullptr, 0, 1, nullptr, 0);
  void* second = sMalloc(8);
  void* third = sMalloc(8);
  void* fourth = sMalloc(8);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(third, nullptr);
  EXPECT_NE(fourth, nullptr);
  EXPECT_EQ(cciTestLiveBlocks(), live + 3);
  sFree(first);
  sFree(second);
  sFree(fourth);
  cciTestFailAllocation(1);
  cciTestFailAllocation(0);
  void* fine = sMalloc(8);
  EXPECT_NE(fine, nullptr);
  sFree(fine);
}

TEST_F(TestingRuntime, MonitorIsReentrantAndCountsEveryEntry) {
  void* m = qmiMonitorAllocate("reentrant");
  int64_t all = cciTestAllMonitorEntries();
  EXPECT_EQ(cciTestMonitorHeld(m), 0);
  qmiMonitorEnter(m);
  qmiMonitorEnter(m);
  EXPECT_EQ(cciTestMonitorHeld(m), 1);
  EXPECT_EQ(cciTestMonitorEntries(m), 2);
  qmiMonitorExit(m);
  EXPECT_EQ(cciTestMonitorHeld(m), 1);
  qmiMonitorExit(m);
  EXPECT_EQ(cciTestMonitorHeld(m), 0);
  EXPECT_EQ(cciTestMonitorEntries(m), 2);
  EXPECT_EQ(cciTestAllMonitorEntries(), all + 2);
}

TEST_F(TestingRuntime, MonitorNamedFindsTheNewest) {
  void* older = qmiMonitorAllocate("twice");
  void* newer = qmiMonitorAllocate("twice");
  EXPECT_NE(older, newer);
  EXPECT_EQ(cciTestMonitorNamed("twice"), newer);
  EXPECT_EQ(cciTestMonitorNamed("never allocated"), nullptr);
  EXPECT_EQ(cciTestMonitorNamed(nullptr), nullptr);
}

TEST_F(TestingRuntime, RuntimeOwnLockingIsNotCounted) {
  int64_t tableEntries = cciTestMonitorEntries(cciGetCObjectsByIDLock());
  cciTestAddClass(1, "A", nullptr, 0, 1, nullptr, 0);
  cciTestObject(1);
  EXPECT_EQ(cciTestMonitorEntries(cciGetCObjectsByIDLock()), tableEntries);
}

TEST_F(TestingRuntime, MonitorExcludesOtherThreads) {
  void* m = qmiMonitorAllocate("contended");
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  int64_t counter = 0;  // guarded by m only
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; i++) {
        qmiMonitorEnter(m);
        qmiMonitorEnter(m);
        counter++;
        qmiMonitorExit(m);
        qmiMonitorExit(m);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(counter, int64_t{kThreads} * kRounds);
  EXPECT_EQ(cciTestMonitorEntries(m), int64_t{2} * kThreads * kRounds);
  EXPECT_EQ(cciTestMonitorHeld(m), 0);
}

TEST_F(TestingRuntime, MonitorHeldByAnotherThreadBlocksUntilReleased) {
  void* m = qmiMonitorAllocate("handoff");
  qmiMonitorEnter(m);
  std::atomic<bool> entered{false};
  std::thread other([&] {
    qmiMonitorEnter(m);
    entered = true;
    qmiMonitorExit(m);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered.load());
  qmiMonitorExit(m);
  other.join();
  EXPECT_TRUE(entered.load());
}

TEST_F(TestingRuntime, ThreadStorageIsPerThread) {
  int mine = 0, theirs = 0;
  int64_t reads = cciTestStorageReads();
  EXPECT_EQ(qmiGetThreadLocalStorage(nullptr), nullptr);
  qmiSetThreadLocalStorage(nullptr, &mine);
  void* seenByOther = &theirs;
  void* otherAfterStore = nullptr;
  std::thread other([&] {
    seenByOther = qmiGetThreadLocalStorage(nullptr);
    qmiSetThreadLocalStorage(nullptr, &theirs);
    otherAfterStore = qmiGetThreadLocalStorage(nullptr);
  });
  other.join();
  EXPECT_EQ(seenByOther, nullptr);
  EXPECT_EQ(otherAfterStore, &theirs);
  EXPECT_EQ(qmiGetThreadLocalStorage(nullptr), &mine);
  EXPECT_EQ(cciTestStorageReads(), reads + 4);
}

TEST_F(TestingRuntime, ResetForgetsThreadStorage) {
  int mine = 0;
  qmiSetThreadLocalStorage(nullptr, &mine);
  cciTestReset();
  EXPECT_EQ(qmiGetThreadLocalStorage(nullptr), nullptr);
  qmiSetThreadLocalStorage(nullptr, &mine);
  EXPECT_EQ(qmiGetThreadLocalStorage(nullptr), &mine);
}

CCOVER_CHILD_SCENARIO(RuntimeResultsFromEnvironment) {
  printf("initialized %d build %d\n", static_cast<int>(cciIsInitialized()),
         static_cast<int>(cciBuildNumber()));
}

TEST(TestingRuntimeProcess, EnvironmentSetsInitializedAndBuild) {
  ChildOptions options;
  options.extraEnv = {"CCI_TEST_INITIALIZED=0", "CCI_TEST_BUILD=7"};
  ChildResult r = runChild("RuntimeResultsFromEnvironment", options);
  ASSERT_EQ(r.exitCode, 0) << describeChild(r);
  EXPECT_EQ(r.out, "initialized 0 build 7\n");
  EXPECT_EQ(r.err, "");
  ChildResult plain = runChild("RuntimeResultsFromEnvironment");
  EXPECT_EQ(plain.out, "initialized 1 build 2\n") << describeChild(plain);
}

CCOVER_CHILD_SCENARIO(RuntimeForeignFree) {
  static char buffer[64] = {};
  sFree(buffer + 32);
  printf("not reached\n");
}

TEST(TestingRuntimeProcess, FreeOfForeignBlockAborts) {
  ChildResult r = runChild("RuntimeForeignFree");
  EXPECT_NE(r.exitCode, 0) << describeChild(r);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("sFree of a block not from sMalloc"), std::string::npos) << r.err;
}

CCOVER_CHILD_SCENARIO(RuntimeExitByNonOwner) {
  void* m = qmiMonitorAllocate("stolen");
  std::thread owner([m] { qmiMonitorEnter(m); });
  owner.join();
  qmiMonitorExit(m);
  printf("not reached\n");
}

TEST(TestingRuntimeProcess, MonitorExitByNonOwnerAborts) {
  ChildResult r = runChild("RuntimeExitByNonOwner");
  EXPECT_NE(r.exitCode, 0) << describeChild(r);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("exit by a thread that does not own monitor \"stolen\""), std::string::npos)
      << r.err;
}

}  // namespace
