#include "model/update_cycle.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "model/object_table.h"
#include "support/vector.h"
#include "tests/harness/child.h"
#include "tests/support/runtime_fixture.h"

namespace {

class UpdateCycleTest : public RuntimeTest {
 protected:
  static void hitSlots(CMethod& m, uint32_t n) {
    for (uint32_t k = 0; k < n; k++) m.hits[k] = k + 1;
  }
  ClassList* update(std::initializer_list<uint32_t> ids) {
    std::vector<uint32_t> v(ids);
    return updateClassesById(v.data(), static_cast<int32_t>(v.size()));
  }
};

TEST_F(UpdateCycleTest, LineSlotFiguresAcrossMethods) {
  CClass* cls = addClass(10, {60, 40});
  hitSlots(cls->methods[0], 57);
  cls->methods[0].touched = 1;
  ClassList* list = update({10});
  ASSERT_EQ(list->count, 1);
  EXPECT_EQ(list->items[0], cls);
  EXPECT_EQ(cls->coverage, 5699);
  EXPECT_EQ(cls->missedLines, 43);
  EXPECT_EQ(cls->coverageAtMark, 0);
  EXPECT_EQ(cls->coverageSinceMark, 5699) << "before any mark, changes are since the start";
  EXPECT_EQ(cls->missedLinesSinceMark, 43);
  EXPECT_EQ(cls->methods[0].touched, 0);
  freeClassList(list);
}

TEST_F(UpdateCycleTest, AllAndNoneExecuted) {
  CClass* full = addClass(10, {3});
  CClass* empty = addClass(20, {3});
  hitSlots(full->methods[0], 3);
  freeClassList(update({10, 20}));
  EXPECT_EQ(full->coverage, 10000);
  EXPECT_EQ(full->missedLines, 0);
  EXPECT_EQ(empty->coverage, 0);
  EXPECT_EQ(empty->missedLines, 3);
}

TEST_F(UpdateCycleTest, ClassWithoutLineSlotsUsesItsMethodsAndKeepsMissedCounts) {
  CClass* cls = addClass(10, {0, 0});
  cls->missedLines = 77;
  cls->missedLinesSinceMark = 88;
  cls->methods[0].invocations = 3;
  freeClassList(update({10}));
  EXPECT_EQ(cls->coverage, 5000);
  EXPECT_EQ(cls->coverageSinceMark, 5000);
  EXPECT_EQ(cls->coverageAtMark, 0);
  EXPECT_EQ(cls->missedLines, 77);
  EXPECT_EQ(cls->missedLinesSinceMark, 88);
}

TEST_F(UpdateCycleTest, ChangeSinceMarkTestsDifferForSlotsAndMethods) {
  CClass* byMethods = addClass(10, {0, 0});
  // A wrapped invocation counter below its mark does not count as invoked since.
  byMethods->methods[0].invocations = 2;
  byMethods->methods[0].markedInvocations = 0xFFFFFFF0u;
  byMethods->methods[1].invocations = 5;
  byMethods->methods[1].markedInvocations = 4;
  CClass* bySlots = addClass(20, {2});
  // A wrapped slot counter that differs from its mark counts as changed.
  bySlots->methods[0].hits[0] = 1;
  bySlots->methods[0].markedHits[0] = 0xFFFFFFFFu;
  freeClassList(update({10, 20}));
  EXPECT_EQ(byMethods->coverageSinceMark, 5000);
  EXPECT_EQ(byMethods->coverageAtMark, 10000);
  EXPECT_EQ(bySlots->coverageSinceMark, 5000);
  EXPECT_EQ(bySlots->coverageAtMark, 5000);
  EXPECT_EQ(bySlots->missedLinesSinceMark, 1);
}

TEST_F(UpdateCycleTest, ClassWithoutMethodsKeepsFiguresButIsListed) {
  CClass* cls = addClass(10, {});
  cls->coverage = 1234;
  ClassList* list = update({10});
  EXPECT_EQ(list->count, 1);
  EXPECT_EQ(cls->coverage, 1234);
  freeClassList(list);
}

TEST_F(UpdateCycleTest, InterfacesAreSkipped) {
  CciTestMethodSpec methodShape{31, "run", "()V", 0x401, 0, nullptr};
  cciTestAddInterface(30, "app/Task", nullptr, 0x601, &methodShape, 1);
  addClass(10, {1});
  ClassList* list = update({30, 10});
  ASSERT_EQ(list->count, 1);
  EXPECT_EQ(list->items[0]->id, 10u);
  freeClassList(list);
}

TEST_F(UpdateCycleTest, DrainListsNewestFirstAndEmptiesTheSet) {
  addClass(5, {1});
  addClass(9, {1});
  addClass(7, {1});
  noteTouchedClass(5);
  noteTouchedClass(9);
  noteTouchedClass(7);
  noteTouchedClass(9);
  ClassList* list = updateTouchedClasses();
  ASSERT_EQ(list->count, 3);
  EXPECT_EQ(list->items[0]->id, 7u);
  EXPECT_EQ(list->items[1]->id, 9u);
  EXPECT_EQ(list->items[2]->id, 5u);
  EXPECT_EQ(QMSize(objectTables.updatedClasses), 0);
  freeClassList(list);
  list = updateTouchedClasses();
  EXPECT_EQ(list->count, 0);
  freeClassList(list);
}

TEST_F(UpdateCycleTest, MarkTakesABaselineAndQueuesLoadedClasses) {
  CClass* cls = addClass(10, {4});
  CciTestMethodSpec methodShape{21, nullptr, nullptr, 0, 2, nullptr};
  CClass* unloaded = cciTestAddClass(20, "app/Later", nullptr, 0, 0, &methodShape, 0);
  CMethod& m = cls->methods[0];
  m.hits[0] = 3;
  m.hits[1] = 1;
  m.invocations = 4;
  noteTouchedClass(10);
  markClasses();
  EXPECT_EQ(m.markedHits[0], 3u);
  EXPECT_EQ(m.markedHits[1], 1u);
  EXPECT_EQ(m.markedInvocations, 4u);
  EXPECT_EQ(m.touched, 1);
  EXPECT_EQ(cls->coverage, 5000);
  EXPECT_EQ(cls->coverageAtMark, 5000);
  EXPECT_EQ(cls->coverageSinceMark, 0);
  EXPECT_EQ(cls->missedLinesSinceMark, 4);
  ASSERT_EQ(QMSize(objectTables.updatedClasses), 1) << "only the loaded class is queued";
  EXPECT_EQ(unloaded->coverageAtMark, 0);

  // No execution since the mark: the next update agrees with the mark.
  ClassList* list = updateTouchedClasses();
  ASSERT_EQ(list->count, 1);
  EXPECT_EQ(cls->coverageAtMark, cls->coverage);
  EXPECT_EQ(cls->coverageSinceMark, 0);
  EXPECT_EQ(cls->missedLinesSinceMark, 4);
  EXPECT_EQ(m.touched, 0);
  freeClassList(list);
}

TEST_F(UpdateCycleTest, DetachQueuesEveryClassAgainButNoInterface) {
  addClass(10, {1});
  CciTestMethodSpec methodShape{21, nullptr, nullptr, 0, 0, nullptr};
  cciTestAddClass(20, "app/Later", nullptr, 0, 0, &methodShape, 0);
  cciTestAddInterface(30, "app/Task", nullptr, 0x601, nullptr, 0);
  QMVector* queue = objectTables.unregisteredClasses;
  while (QMSize(queue) > 0) QMRemoveLastElement(queue);
  detachClasses();
  EXPECT_EQ(QMSize(queue), 2);
  detachClasses();
  EXPECT_EQ(QMSize(queue), 4) << "no check for classes still queued";
  for (int32_t i = 0; i < QMSize(queue); i++) {
    EXPECT_EQ(static_cast<CObject*>(QMElementAt(queue, i))->type, kCObjectClass);
  }
}

TEST_F(UpdateCycleTest, CountLineSlotsAddsToItsCounters) {
  CClass* cls = addClass(10, {3});
  CMethod& m = cls->methods[0];
  m.hits[0] = 1;
  m.hits[2] = 2;
  m.markedHits[2] = 2;
  m.markedHits[1] = 5;
  uint32_t executed = 10, atMark = 20, changed = 30;
  countLineSlots(&m, &executed, &atMark, &changed);
  EXPECT_EQ(executed, 12u);
  EXPECT_EQ(atMark, 22u);
  EXPECT_EQ(changed, 32u);
  countLineSlots(&m, &executed, nullptr, nullptr);
  EXPECT_EQ(executed, 14u);
  countLineSlots(nullptr, &executed, nullptr, nullptr);
  EXPECT_EQ(executed, 14u);
}

}  // namespace

namespace {

void prepareTable() {
  cciTestReset();
  bindObjectTables();
  CciTestMethodSpec methodShape{11, "run", "()V", 0, 1, nullptr};
  cciTestAddClass(10, "app/Main", nullptr, 0, 1, &methodShape, 1);
  cciTestAddInterface(20, "app/Task", nullptr, 0x601, nullptr, 0);
}

}  // namespace

CCOVER_CHILD_SCENARIO(updateUnknownClass) {
  prepareTable();
  uint32_t ids[] = {10, 999};
  updateClassesById(ids, 2);
}
CCOVER_CHILD_SCENARIO(updateMethodId) {
  prepareTable();
  uint32_t ids[] = {11};
  updateClassesById(ids, 1);
}
CCOVER_CHILD_SCENARIO(printClassesVerbose) {
  prepareTable();
  printClasses(true);
  printf("--\n");
  printClasses(false);
}

namespace {

std::string listingHeader() {
  char header[128];
  snprintf(header, sizeof(header), "printClasses() %d objects in IDToCObjects ", 3);
  return header;
}

TEST(UpdateCycleFatal, UnknownClassListsTheTableAndEnds) {
  ChildResult r = runChild("updateUnknownClass");
  EXPECT_EQ(r.exitCode, 1) << describeChild(r);
  EXPECT_EQ(r.err, "");
  std::string first = "CC_C: Class 999 from updated classes not found\n" + listingHeader();
  ASSERT_EQ(r.out.substr(0, first.size()), first);
  EXPECT_NE(r.out.find("\n** Class app/Main 10***\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Method"), std::string::npos);
}

TEST(UpdateCycleFatal, MethodIdIsAnInconsistency) {
  ChildResult r = runChild("updateMethodId");
  EXPECT_EQ(r.exitCode, 1) << describeChild(r);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "CC_C: Inconsistency update class, object id 11 type 4.\n");
}

TEST(PrintClasses, VerboseListsMethodsAndUnknownObjects) {
  ChildResult r = runChild("printClassesVerbose");
  EXPECT_EQ(r.exitCode, 0) << describeChild(r);
  size_t split = r.out.find("--\n");
  ASSERT_NE(split, std::string::npos);
  std::string verbose = r.out.substr(0, split);
  std::string quiet = r.out.substr(split + 3);
  EXPECT_EQ(verbose.rfind(listingHeader(), 0), 0u);
  EXPECT_NE(verbose.find("** Class app/Main 10***\n"), std::string::npos);
  EXPECT_NE(verbose.find("** Method run ***\n"), std::string::npos);
  EXPECT_NE(verbose.find("Unknow CObjects\n"), std::string::npos);
  // Header plus one line per class, nothing else.
  EXPECT_EQ(std::count(quiet.begin(), quiet.end(), '\n'), 2) << quiet;
  EXPECT_NE(quiet.find("** Class app/Main 10***\n"), std::string::npos);
}

}  // namespace
