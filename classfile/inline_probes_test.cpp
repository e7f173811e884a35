// Pinned bytes of the inline probes (counting=inline): the counters' address
// as one Long constant per class, the method record's distance back from it
// in place of its ID, class-wide counter numbers in place of slots, and the
// operand stack the wider arguments need.
#include <string>

#include "classfile/instrument.h"
#include "classfile/test_class.h"
#include "gtest/gtest.h"

namespace classfile {
namespace {

constexpr uint64_t kCounters = 0x0000001234ABCDEFull;

struct Inline {
  Bytes input;
  ClassOutcome outcome = ClassOutcome::kMalformed;
  Bytes output;
  ClassOutline outline;
  uint32_t base = 0;
  int placed = 0;                     // calls of place
  std::vector<uint16_t> placedSlots;  // what it was asked to lay out

  static uint64_t place(void* context, const std::vector<uint16_t>& slots) {
    Inline& self = *static_cast<Inline*>(context);
    self.placed++;
    self.placedSlots = slots;
    return kCounters;
  }

  uint8_t hi(uint32_t v) const { return static_cast<uint8_t>(v >> 8); }
  uint8_t lo(uint32_t v) const { return static_cast<uint8_t>(v); }
  Bytes records() const { return {0x14, hi(base + 16), lo(base + 16)}; }  // ldc2_w
  Bytes countLine() const { return {0xb8, hi(base + 6), lo(base + 6)}; }
  Bytes countEntryLine() const { return {0xb8, hi(base + 9), lo(base + 9)}; }
  Bytes countEntry() const { return {0xb8, hi(base + 12), lo(base + 12)}; }
  Bytes countHit() const { return {0xb8, hi(base + 15), lo(base + 15)}; }
};

Inline instrumentInline(TestClass& tc) {
  Inline run;
  run.input = tc.build();
  ClassFile cf;
  if (!parseClassFile(run.input.data(), run.input.size(), &cf)) return run;
  run.base = cf.constantCount;
  InlineRecords records = {&Inline::place, &run};
  run.outcome = instrumentClass(cf, 100, &run.output, &run.outline, &records);
  return run;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::string memberName(const ClassFile& cf, uint32_t methodref) {
  uint16_t nameAndType = readU2(cf.data + cf.constants[methodref] + 3);
  uint32_t at = cf.constants[nameAndType];
  return std::string(utf8At(cf, readU2(cf.data + at + 1))) +
         std::string(utf8At(cf, readU2(cf.data + at + 3)));
}

TEST(InlineProbes, PassTheCountersTheRecordsDistanceAndTheClassWideCounter) {
  TestClass tc;
  TestMethod first;
  first.name = "first";
  first.code = {0x04, 0x3b, 0x1a, 0x57, 0xb1};  // iconst_1 istore_0 iload_0 pop return
  first.lines = {{0, 10}, {2, 11}};
  tc.methods.push_back(first);
  TestMethod loop;
  loop.name = "loop";
  loop.code = {0x1a, 0x99, 0x00, 0x06, 0xa7, 0xff, 0xfc, 0xb1};  // a jump back to 0
  loop.lines = {{0, 5}, {7, 6}};
  tc.major = 49;
  tc.methods.push_back(loop);
  Inline run = instrumentInline(tc);
  ASSERT_EQ(run.outcome, ClassOutcome::kInstrumented);

  ClassFile out;
  ASSERT_TRUE(parseClassFile(run.output.data(), run.output.size(), &out));
  // One Long for the class, high word first; it takes two pool entries.
  ASSERT_EQ(constantTag(out, run.base + 16), kLong);
  EXPECT_EQ(readU4(out.data + out.constants[run.base + 16] + 1), 0x12u);
  EXPECT_EQ(readU4(out.data + out.constants[run.base + 16] + 5), 0x34ABCDEFu);
  EXPECT_EQ(out.constantCount, run.base + 18);
  EXPECT_EQ(memberName(out, run.base + 6), "countLine(JII)V");
  EXPECT_EQ(memberName(out, run.base + 9), "countEntryLine(JII)V");
  EXPECT_EQ(memberName(out, run.base + 12), "countEntry(JI)V");
  EXPECT_EQ(memberName(out, run.base + 15), "countHit(JI)V");

  // The block is laid out once, before any probe: two slots each.
  EXPECT_EQ(run.placed, 1);
  EXPECT_EQ(run.placedSlots, (std::vector<uint16_t>{2, 2}));

  // Method 0 lies two records back from the counters; its first slot counts
  // the entry; its counters are 0 and 1. The second slot follows the first
  // without a call between: it counts without checking the touched flag.
  MethodView v = viewMethod(run.output, 0);
  EXPECT_EQ(v.code, cat({run.records(),
                         {0x05, 0x03},
                         run.countEntryLine(),
                         {0x04, 0x3b},
                         run.records(),
                         {0x04},
                         run.countHit(),
                         {0x1a, 0x57, 0xb1}}));
  EXPECT_EQ(v.maxStack, 2 + 4);  // a long and two ints on top of the method's own

  // Method 1, one record back: the loop jumps back to 0, so the entry probe
  // is a prefix and the loop's probe checks; its counters follow method 0's,
  // 2 and 3; the return is reached only from the loop's check.
  v = viewMethod(run.output, 1);
  EXPECT_EQ(v.code, cat({run.records(),
                         {0x04},
                         run.countEntry(),
                         run.records(),
                         {0x04, 0x05},
                         run.countLine(),
                         {0x1a, 0x99, 0x00, 0x06, 0xa7, 0xff, 0xf4},  // back to the line probe
                         run.records(),
                         {0x06},
                         run.countHit(),
                         {0xb1}}));
  ASSERT_EQ(run.outline.methods.size(), 2u);
  EXPECT_EQ(run.outline.methods[1].lines, (std::vector<uint16_t>{5, 6}));
}

TEST(InlineProbes, AMethodWithoutSlotsCountsItsEntryWithThreeStackWords) {
  TestClass tc;
  TestMethod m;
  m.access = 0x1009;  // synthetic: no slots of its own
  m.code = {0xb1};
  m.lines = {{0, 3}};
  tc.methods.push_back(m);
  Inline run = instrumentInline(tc);
  ASSERT_EQ(run.outcome, ClassOutcome::kInstrumented);
  MethodView v = viewMethod(run.output, 0);
  // Padded to four bytes: the entry probe alone moves every offset alike.
  EXPECT_EQ(v.code, cat({run.records(), {0x04}, run.countEntry(), {0x00, 0xb1}}));
  EXPECT_EQ(v.maxStack, 2 + 3);
  EXPECT_TRUE(run.outline.methods[0].lines.empty());
  EXPECT_EQ(run.placedSlots, (std::vector<uint16_t>{0}));
}

TEST(InlineProbes, CountersAreNumberedByThePlanEvenWhereAMethodLosesItsSlots) {
  TestClass tc;
  tc.major = 49;
  TestMethod big;  // two slots planned, then too large for them: entry only
  big.code.assign(65524, 0x00);
  big.code.push_back(0xb1);
  big.lines = {{0, 1}, {100, 2}};
  tc.methods.push_back(big);
  TestMethod bridge;  // synthetic: never had slots
  bridge.access = 0x1009;
  bridge.code = {0xb1};
  bridge.lines = {{0, 3}};
  tc.methods.push_back(bridge);
  TestMethod last;
  last.code = {0x00, 0xb1};
  last.lines = {{0, 4}, {1, 5}};
  tc.methods.push_back(last);
  Inline run = instrumentInline(tc);
  ASSERT_EQ(run.outcome, ClassOutcome::kInstrumented);
  EXPECT_EQ(run.placedSlots, (std::vector<uint16_t>{2, 0, 2}));
  EXPECT_EQ(run.outline.methods[0].outcome, MethodOutcome::kEntryOnly);
  EXPECT_TRUE(run.outline.methods[0].lines.empty());
  // The big method's counters stay where the block has them: the last
  // method's are 2 and 3, its record one back.
  EXPECT_EQ(viewMethod(run.output, 2).code, cat({run.records(),
                                                 {0x04, 0x05},
                                                 run.countEntryLine(),
                                                 {0x00},
                                                 run.records(),
                                                 {0x06},
                                                 run.countHit(),
                                                 {0xb1}}));
}

TEST(InlineProbes, APoolWithoutRoomForTheLongLeavesTheClassAsItWas) {
  TestClass tc;
  // The class's own constants leave room for the exact probes' 13 but not
  // for the inline probes' 18.
  TestMethod m;
  m.code = {0xb1};
  m.lines = {{0, 3}};
  tc.methods.push_back(m);
  tc.build();
  // What each build() appends again (the class constants), beyond tc.pool.
  const size_t before = tc.pool.size();
  tc.build();
  const size_t perBuild = tc.pool.size() - before;
  for (uint32_t i = 0; tc.pool.size() + 1 + perBuild < 65535 - 14; i++) {
    tc.add({kInteger, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
  }
  Bytes full = tc.build();
  ClassFile cf;
  ASSERT_TRUE(parseClassFile(full.data(), full.size(), &cf));
  ASSERT_EQ(cf.constantCount, 65535u - 14);
  std::vector<uint8_t> exactBytes;
  ClassOutline exactOutline;
  EXPECT_EQ(instrumentClass(cf, 100, &exactBytes, &exactOutline), ClassOutcome::kInstrumented);
  Inline run = instrumentInline(tc);
  EXPECT_EQ(run.outcome, ClassOutcome::kUnchanged);
  ASSERT_EQ(run.outline.methods.size(), 1u);
  EXPECT_EQ(run.outline.methods[0].reason, MethodReason::kPoolOverflow);
}

}  // namespace
}  // namespace classfile
