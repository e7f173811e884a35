#include "support/vector.h"

#include <stdint.h>

#include "gtest/gtest.h"
#include "runtime/testing/cci_testing.h"

namespace {

void* item(intptr_t n) { return reinterpret_cast<void*>(n); }

TEST(Vector, NewWithZeroCapacityHasNoArray) {
  QMVector* v = QMNewVector(0);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->count, 0);
  EXPECT_EQ(v->capacity, 0);
  EXPECT_EQ(v->items, nullptr);
  QMFreeVector(v);
}

TEST(Vector, GrowsToTwiceCapacityPlusFour) {
  QMVector* v = QMNewVector(0);
  EXPECT_EQ(QMAddElement(v, item(1)), 1);
  EXPECT_EQ(v->capacity, 4);
  for (intptr_t i = 2; i <= 4; i++) QMAddElement(v, item(i));
  EXPECT_EQ(v->capacity, 4);
  EXPECT_EQ(QMAddElement(v, item(5)), 5);
  EXPECT_EQ(v->capacity, 12);
  QMFreeVector(v);
}

TEST(Vector, HundredAndFirstAppendGrowsTo204KeepingOrder) {
  QMVector* v = QMNewVector(100);
  EXPECT_EQ(v->capacity, 100);
  for (intptr_t i = 0; i < 100; i++) QMAddElement(v, item(i + 1));
  EXPECT_EQ(v->capacity, 100);
  EXPECT_EQ(QMAddElement(v, item(101)), 101);
  EXPECT_EQ(v->capacity, 204);
  for (int32_t i = 0; i < 101; i++) EXPECT_EQ(QMElementAt(v, i), item(i + 1)) << i;
  QMFreeVector(v);
}

TEST(Vector, RemoveLastIsAStack) {
  QMVector* v = QMNewVector(2);
  QMAddElement(v, item(10));
  QMAddElement(v, item(20));
  EXPECT_EQ(QMRemoveLastElement(v), item(20));
  EXPECT_EQ(QMRemoveLastElement(v), item(10));
  EXPECT_EQ(QMRemoveLastElement(v), nullptr);
  EXPECT_EQ(QMSize(v), 0);
  EXPECT_EQ(v->capacity, 2);
  QMFreeVector(v);
}

TEST(Vector, ContainsComparesItemWords) {
  QMVector* v = QMNewVector(4);
  QMAddElement(v, item(7));
  QMAddElement(v, nullptr);
  EXPECT_EQ(QMContains(v, item(7)), 1);
  EXPECT_EQ(QMContains(v, nullptr), 1);
  EXPECT_EQ(QMContains(v, item(8)), 0);
  QMRemoveLastElement(v);
  EXPECT_EQ(QMContains(v, nullptr), 0);
  QMFreeVector(v);
}

TEST(Vector, ElementAtOutOfBoundsPrintsAndYieldsNull) {
  QMVector* v = QMNewVector(4);
  QMAddElement(v, item(3));
  testing::internal::CaptureStderr();
  EXPECT_EQ(QMElementAt(v, -1), nullptr);
  EXPECT_EQ(QMElementAt(v, 1), nullptr);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "QMElementAt : index out of bounds\nQMElementAt : index out of bounds\n");
  EXPECT_EQ(QMElementAt(v, 0), item(3));
  EXPECT_EQ(QMSize(v), 1);
  QMFreeVector(v);
}

TEST(Vector, FreeReturnsEveryBlock) {
  int64_t before = cciTestLiveBlocks();
  QMVector* v = QMNewVector(0);
  for (intptr_t i = 0; i < 50; i++) QMAddElement(v, item(i));
  EXPECT_GT(cciTestLiveBlocks(), before);
  QMFreeVector(v);
  EXPECT_EQ(cciTestLiveBlocks(), before);
}

TEST(Vector, RecordAllocationFailureYieldsNull) {
  int64_t before = cciTestLiveBlocks();
  cciTestFailAllocation(1);
  EXPECT_EQ(QMNewVector(10), nullptr);
  EXPECT_EQ(cciTestLiveBlocks(), before);
}

TEST(Vector, ArrayAllocationFailureYieldsCapacityZero) {
  cciTestFailAllocation(2);
  QMVector* v = QMNewVector(10);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->capacity, 0);
  EXPECT_EQ(v->items, nullptr);
  EXPECT_EQ(QMAddElement(v, item(1)), 1);
  EXPECT_EQ(v->capacity, 4);
  QMFreeVector(v);
}

TEST(Vector, FailedGrowthLeavesVectorUnchanged) {
  QMVector* v = QMNewVector(1);
  QMAddElement(v, item(1));
  void** items = v->items;
  cciTestFailAllocation(1);
  EXPECT_EQ(QMAddElement(v, item(2)), 0);
  EXPECT_EQ(v->count, 1);
  EXPECT_EQ(v->capacity, 1);
  EXPECT_EQ(v->items, items);
  EXPECT_EQ(QMAddElement(v, item(2)), 2);
  EXPECT_EQ(v->capacity, 6);
  EXPECT_EQ(QMElementAt(v, 0), item(1));
  EXPECT_EQ(QMElementAt(v, 1), item(2));
  QMFreeVector(v);
}

}  // namespace
