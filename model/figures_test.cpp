#include "model/figures.h"

#include <gtest/gtest.h>

namespace {

TEST(FixedPointFraction, DividesBeforeScaling) {
  EXPECT_EQ(fixedPointFraction(57, 100), 5699);
  EXPECT_EQ(fixedPointFraction(43, 125), 3439);
  EXPECT_EQ(fixedPointFraction(1, 3), 3333);
  EXPECT_EQ(fixedPointFraction(100, 100), 10000);
  EXPECT_EQ(fixedPointFraction(0, 7), 0);
  EXPECT_EQ(fixedPointFraction(1, 2), 5000);
  EXPECT_EQ(fixedPointFraction(0xFFFFFFFEu, 0xFFFFFFFFu), 9999);
}

TEST(ClassFigures, SlotsDecideWhenThereAreAny) {
  ClassCounts k;
  k.methods = 3;
  k.slots = 8;
  k.executed = 6;
  k.atMark = 2;
  k.changed = 5;
  k.invoked = 1;  // slot-less methods do not count once slots exist
  ClassFigures f{};
  ASSERT_EQ(classFigures(k, &f), kFiguresSlots);
  EXPECT_EQ(f.coverage, 7500);
  EXPECT_EQ(f.coverageAtMark, 2500);
  EXPECT_EQ(f.coverageSinceMark, 6250);
  EXPECT_EQ(f.missedLines, 2);
  EXPECT_EQ(f.missedLinesSinceMark, 3);
}

TEST(ClassFigures, MethodsDecideWithoutSlotsAndMissedCountsStay) {
  ClassCounts k;
  k.methods = 3;
  countSlotlessMethod(5, 5, &k);  // entered, not since the mark
  countSlotlessMethod(7, 2, &k);  // entered since the mark
  countSlotlessMethod(0, 0, &k);
  ClassFigures f{0, 0, 0, 41, 42};
  ASSERT_EQ(classFigures(k, &f), kFiguresMethods);
  EXPECT_EQ(f.coverage, 6666);
  EXPECT_EQ(f.coverageAtMark, 6666);
  EXPECT_EQ(f.coverageSinceMark, 3333);
  EXPECT_EQ(f.missedLines, 41);
  EXPECT_EQ(f.missedLinesSinceMark, 42);
}

TEST(ClassFigures, NoMethodsLeavesEverything) {
  ClassCounts k;
  ClassFigures f{1, 2, 3, 4, 5};
  EXPECT_EQ(classFigures(k, &f), kFiguresNone);
  EXPECT_EQ(f.coverage, 1);
  EXPECT_EQ(f.missedLinesSinceMark, 5);
}

TEST(ClassFigures, CountSlotComparesUnsigned) {
  ClassCounts k;
  countSlot(0, 0, &k);
  countSlot(0xFFFFFFFFu, 0, &k);
  countSlot(3, 3, &k);
  countSlot(0, 9, &k);  // a counter below its mark still differs
  EXPECT_EQ(k.executed, 2u);
  EXPECT_EQ(k.atMark, 2u);
  EXPECT_EQ(k.changed, 2u);
}

}  // namespace
