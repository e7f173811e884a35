#include "agent/handlers.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <thread>

#include "model/object_table.h"
#include "model/update_cycle.h"
#include "support/vector.h"
#include "tests/harness/child.h"
#include "tests/support/runtime_fixture.h"

namespace {

class HandlersTest : public RuntimeTest {
 protected:
  void TearDown() override { threadEndHandler(env()); }

  int64_t tableLockEntries() { return cciTestMonitorEntries(objectTables.idToCObjectsLock); }
  int64_t updatedLockEntries() { return cciTestMonitorEntries(objectTables.updatedClassLock); }
};

TEST_F(HandlersTest, EntryAtFirstSlotThenLinesCountsOneInvocationAndEachSlot) {
  CClass* cls = addClass(100, {3});
  entryLineHandler(env(), 101, 0);
  lineHandler(env(), 101, 1);
  lineHandler(env(), 101, 2);
  CMethod& m = cls->methods[0];
  EXPECT_EQ(m.invocations, 1u);
  EXPECT_EQ(m.hits[0], 1u);
  EXPECT_EQ(m.hits[1], 1u);
  EXPECT_EQ(m.hits[2], 1u);
  entryHandler(env(), 101);
  EXPECT_EQ(m.invocations, 2u);
  EXPECT_EQ(m.hits[0], 1u);
}

TEST_F(HandlersTest, CacheHitEntersNoSharedLockAndAllocatesNothing) {
  addClass(100, {4});
  int64_t allocationsBefore = cciTestAllocations();
  int64_t tableBefore = tableLockEntries();
  lineHandler(env(), 101, 0);  // first event: cache made, method looked up, class queued
  EXPECT_EQ(cciTestAllocations() - allocationsBefore, 3);
  EXPECT_EQ(tableLockEntries() - tableBefore, 1);

  int64_t allocations = cciTestAllocations();
  int64_t table = tableLockEntries();
  int64_t updated = updatedLockEntries();
  for (int i = 0; i < 100; i++) lineHandler(env(), 101, i % 4);
  EXPECT_EQ(cciTestAllocations(), allocations);
  EXPECT_EQ(tableLockEntries(), table);
  EXPECT_EQ(updatedLockEntries(), updated);
}

TEST_F(HandlersTest, SynchronizedMethodEntersNoMonitor) {
  CClass* cls = addClass(100, {2}, kSynchronizedFlag);
  lineHandler(env(), 101, 0);  // miss and first touch take their locks
  int64_t monitors = cciTestAllMonitorEntries();
  entryLineHandler(env(), 101, 0);
  lineHandler(env(), 101, 1);
  entryHandler(env(), 101);
  EXPECT_EQ(cciTestAllMonitorEntries(), monitors);
  EXPECT_EQ(cls->methods[0].invocations, 2u);
  EXPECT_EQ(cls->methods[0].hits[0], 2u);
  EXPECT_EQ(cls->methods[0].hits[1], 1u);
}

TEST_F(HandlersTest, PlainMethodIsCountedUnderItsOwnLock) {
  CClass* cls = addClass(100, {2});
  lineHandler(env(), 101, 0);
  int64_t own = cciTestMonitorEntries(cls->methods[0].lock);
  lineHandler(env(), 101, 1);
  EXPECT_EQ(cciTestMonitorEntries(cls->methods[0].lock), own + 1);
}

TEST_F(HandlersTest, TouchedMethodDoesNotEnterUpdatedClassLock) {
  CClass* cls = addClass(100, {2});
  cls->methods[0].touched = 1;
  int64_t updated = updatedLockEntries();
  lineHandler(env(), 101, 0);
  EXPECT_EQ(updatedLockEntries(), updated);
  EXPECT_EQ(QMSize(objectTables.updatedClasses), 0);
}

TEST_F(HandlersTest, TwoMethodsOfOneClassQueueTheClassOnce) {
  CClass* cls = addClass(100, {1, 1});
  lineHandler(env(), 101, 0);
  lineHandler(env(), 102, 0);
  ASSERT_EQ(QMSize(objectTables.updatedClasses), 1);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(QMElementAt(objectTables.updatedClasses, 0)), 100u);
  EXPECT_EQ(cls->methods[0].touched, 1);
  EXPECT_EQ(cls->methods[1].touched, 1);
}

TEST_F(HandlersTest, ThirtyThreeMethodsInTurnEvictTheOldest) {
  std::vector<uint16_t> lines(33, 1);
  addClass(1000, lines);
  for (uint32_t i = 1; i <= 33; i++) lineHandler(env(), static_cast<jint>(1000 + i), 0);
  // The 33rd insertion overwrote the first method's entry.
  int64_t table = tableLockEntries();
  lineHandler(env(), 1033, 0);
  lineHandler(env(), 1002, 0);
  EXPECT_EQ(tableLockEntries(), table) << "recent methods stay cached";
  lineHandler(env(), 1001, 0);
  EXPECT_EQ(tableLockEntries(), table + 1) << "the oldest entry was evicted";
}

TEST_F(HandlersTest, FoundEntryBecomesCurrentAndTheNextInsertOverwritesTheOneAfterIt) {
  std::vector<uint16_t> lines(34, 1);
  addClass(2000, lines);
  // Fill all 32 entries: methods 1..32 at indices 1..31, 0.
  for (uint32_t i = 1; i <= 32; i++) lineHandler(env(), static_cast<jint>(2000 + i), 0);
  lineHandler(env(), 2005, 0);  // found at index 5, becomes current
  lineHandler(env(), 2033, 0);  // inserted at index 6, overwriting method 6
  int64_t table = tableLockEntries();
  lineHandler(env(), 2007, 0);
  lineHandler(env(), 2004, 0);
  EXPECT_EQ(tableLockEntries(), table);
  lineHandler(env(), 2006, 0);
  EXPECT_EQ(tableLockEntries(), table + 1);
}

TEST_F(HandlersTest, MethodIdZeroIsLookedUpNotTakenFromAnEmptyEntry) {
  CciTestMethodSpec methodShape{0, "zero", "()V", 0, 2, nullptr};
  CClass* cls = cciTestAddClass(50, "app/Zero", nullptr, 0, 1, &methodShape, 1);
  lineHandler(env(), 0, 1);
  lineHandler(env(), 0, 1);
  EXPECT_EQ(cls->methods[0].hits[1], 2u);
}

TEST_F(HandlersTest, SlotOutsideTheMethodIsDroppedWithoutWriting) {
  CClass* cls = addClass(100, {2, 2});
  CMethod& m = cls->methods[0];
  lineHandler(env(), 101, 2);        // one past the end
  lineHandler(env(), 101, -1);       // negative
  lineHandler(env(), 101, 0x1FFFF);  // low 16 bits are -1
  lineHandler(env(), 101, 1000);
  EXPECT_EQ(m.hits[0] + m.hits[1], 0u);
  EXPECT_EQ(cls->methods[1].hits[0] + cls->methods[1].hits[1], 0u);
  EXPECT_EQ(QMSize(objectTables.updatedClasses), 0) << "nothing counted, nothing queued";
  entryLineHandler(env(), 101, 7);
  EXPECT_EQ(m.invocations, 1u) << "the entry itself still counts";
  EXPECT_EQ(m.hits[0] + m.hits[1], 0u);
  lineHandler(env(), 101, 0x10001);  // low 16 bits are slot 1
  EXPECT_EQ(m.hits[1], 1u);
}

TEST_F(HandlersTest, MethodWithoutLinesCountsEntriesOnly) {
  CClass* cls = addClass(100, {0});
  entryHandler(env(), 101);
  lineHandler(env(), 101, 0);
  EXPECT_EQ(cls->methods[0].invocations, 1u);
}

TEST_F(HandlersTest, CountersSaturateAtTheTopInPlainAndSynchronizedMethods) {
  for (uint16_t flags : {uint16_t{0}, uint16_t{kSynchronizedFlag}}) {
    SCOPED_TRACE(flags);
    RuntimeTest::SetUp();
    CMethod& m = addClass(100, {2}, flags)->methods[0];
    m.hits[0] = kCounterMax - 1;
    m.hits[1] = kCounterMax;
    m.invocations = kCounterMax - 1;
    entryLineHandler(env(), 101, 0);
    EXPECT_EQ(m.hits[0], kCounterMax);
    EXPECT_EQ(m.invocations, kCounterMax);
    entryLineHandler(env(), 101, 0);
    entryHandler(env(), 101);
    lineHandler(env(), 101, 1);
    EXPECT_EQ(m.hits[0], kCounterMax);
    EXPECT_EQ(m.hits[1], kCounterMax);
    EXPECT_EQ(m.invocations, kCounterMax);
    lineHandler(env(), 101, 1);
    EXPECT_EQ(m.hits[1], kCounterMax) << "a saturated counter stays put";
    threadEndHandler(env());
  }
}

TEST_F(HandlersTest, ThreadEndFreesTheCacheAndALaterEventStartsAFreshOne) {
  addClass(100, {1});
  int64_t live = cciTestLiveBlocks();
  lineHandler(env(), 101, 0);
  EXPECT_EQ(cciTestLiveBlocks(), live + 3);
  threadEndHandler(env());
  EXPECT_EQ(cciTestLiveBlocks(), live);
  lineHandler(env(), 101, 0);
  EXPECT_EQ(cciTestLiveBlocks(), live + 3);
}

TEST_F(HandlersTest, EmptyHandlerIgnoresItsEvent) {
  int64_t calls = cciTestAllMonitorEntries();
  emptyHandler(env());
  EXPECT_EQ(cciTestAllMonitorEntries(), calls);
}

}  // namespace

// Inconsistent tables end the process; each handler has its own messages.
namespace {

void prepareInconsistentTable() {
  cciTestReset();
  bindObjectTables();
  CciTestMethodSpec methodShape{11, "run", "()V", 0, 1, nullptr};
  cciTestAddClass(10, "app/Main", nullptr, 0, 1, &methodShape, 1);
}

JNIEnv* standInEnv() {
  static int standIn;
  return reinterpret_cast<JNIEnv*>(&standIn);
}

}  // namespace

CCOVER_CHILD_SCENARIO(lineHandlerUnknownId) {
  prepareInconsistentTable();
  lineHandler(standInEnv(), 999, 0);
}
CCOVER_CHILD_SCENARIO(lineHandlerClassId) {
  prepareInconsistentTable();
  lineHandler(standInEnv(), 10, 0);
}
CCOVER_CHILD_SCENARIO(entryLineHandlerUnknownId) {
  prepareInconsistentTable();
  entryLineHandler(standInEnv(), 999, 0);
}
CCOVER_CHILD_SCENARIO(entryLineHandlerClassId) {
  prepareInconsistentTable();
  entryLineHandler(standInEnv(), 10, 0);
}
CCOVER_CHILD_SCENARIO(entryHandlerUnknownId) {
  prepareInconsistentTable();
  entryHandler(standInEnv(), 999);
}
CCOVER_CHILD_SCENARIO(entryHandlerClassId) {
  prepareInconsistentTable();
  entryHandler(standInEnv(), 10);
}

// A counter driven to the top and past it, by one thread in a plain method and
// by two racing threads in a synchronized one (where a lost compare-and-swap
// would carry it over), then read as the update cycle reads it.
CCOVER_CHILD_SCENARIO(countersDrivenPastTheTop) {
  cciTestReset();
  bindObjectTables();
  constexpr uint32_t kEvents = 200000;
  CciTestMethodSpec methodShapes[] = {{11, "plain", "()V", 0, 2, nullptr},
                                      {12, "shared", "()V", kSynchronizedFlag, 1, nullptr}};
  CClass* cls = cciTestAddClass(10, "app/Hot", nullptr, 0, 1, methodShapes, 2);
  CMethod& plain = cls->methods[0];
  CMethod& shared = cls->methods[1];
  plain.hits[0] = kCounterMax - kEvents;
  plain.invocations = kCounterMax - kEvents;
  shared.hits[0] = kCounterMax - kEvents;
  // kEvents events bring the plain counters to 2^32-1, and one more tries to
  // pass it; the two threads together bring twice as many.
  for (uint32_t i = 0; i <= kEvents; i++) entryLineHandler(standInEnv(), 11, 0);
  auto drive = [] {
    int standIn;
    JNIEnv* env = reinterpret_cast<JNIEnv*>(&standIn);
    for (uint32_t i = 0; i < kEvents; i++) lineHandler(env, 12, 0);
    threadEndHandler(env);
  };
  std::thread first(drive);
  std::thread second(drive);
  first.join();
  second.join();
  freeClassList(updateTouchedClasses());
  printf("plain %u %u %u, shared %u, coverage %u missed %d\n", plain.invocations, plain.hits[0],
         plain.hits[1], shared.hits[0], cls->coverage, cls->missedLines);
}

namespace {

TEST(HandlerSaturation, ACounterDrivenPastTheTopStaysThereAndItsLineStaysRun) {
  ChildResult r = runChild("countersDrivenPastTheTop");
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.exitCode, 0) << describeChild(r);
  // Two of three line slots run: 6666 (the figure in ten-thousandths).
  EXPECT_EQ(r.out, "plain 4294967295 4294967295 0, shared 4294967295, coverage 6666 missed 1\n");
  EXPECT_EQ(r.err, "");
}

}  // namespace

namespace {

struct FatalCase {
  const char* scenario;
  const char* out;
  const char* err;
};

class HandlerFatalTest : public ::testing::TestWithParam<FatalCase> {};

TEST_P(HandlerFatalTest, EndsTheProcessWithItsMessage) {
  const FatalCase& c = GetParam();
  ChildResult r = runChild(c.scenario);
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.exitCode, 1) << describeChild(r);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Handlers, HandlerFatalTest,
    ::testing::Values(
        FatalCase{"lineHandlerUnknownId",
                  "CC_C: Inconsistency in entering line, method id 999 is invalid.\n", ""},
        FatalCase{"lineHandlerClassId", "",
                  "CC_C : Inconsistency entering line, object is not a method\n"},
        FatalCase{"entryLineHandlerUnknownId",
                  "CC_C: Inconsistency in entering line, method id 999 is invalid.\n", ""},
        FatalCase{"entryLineHandlerClassId",
                  "CC_C: Inconsistency in entering line, object 10 is not a method\n", ""},
        FatalCase{"entryHandlerUnknownId",
                  "CC_C: Inconsistency in entering line, method id 999 is invalid.\n", ""},
        FatalCase{"entryHandlerClassId",
                  "CC_C: Inconsistency entering line, object is not a method\n", ""}),
    [](const ::testing::TestParamInfo<FatalCase>& info) {
      return std::string(info.param.scenario);
    });

}  // namespace
