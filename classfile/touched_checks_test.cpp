// Which inline line probes check the touched flag: a call, a backward jump or
// an exception handler between a checked probe and the next one makes that
// one check; forward straight-line code and joins of checked paths don't.
#include "classfile/touched_checks.h"

#include "classfile/test_class.h"
#include "gtest/gtest.h"

namespace classfile {
namespace {

std::vector<bool> checksOf(const Bytes& code, std::vector<std::pair<uint16_t, uint16_t>> lines,
                           std::vector<std::vector<uint16_t>> exceptions = {}) {
  TestClass tc;
  tc.major = 49;  // no stack map frames to write
  TestMethod m;
  m.code = code;
  m.lines = std::move(lines);
  m.exceptions = std::move(exceptions);
  tc.methods.push_back(m);
  Bytes bytes = tc.build();
  ClassFile cf;
  CodeAttribute attribute;
  Bytecode bc;
  std::vector<LineSlot> slots;
  const Attribute* found = nullptr;
  EXPECT_TRUE(parseClassFile(bytes.data(), bytes.size(), &cf));
  for (const Attribute& a : cf.methods.at(0).attributes) {
    if (attributeIs(cf, a, "Code")) found = &a;
  }
  if (found == nullptr || !parseCodeAttribute(cf, *found, &attribute) ||
      !decodeBytecode(cf.data + attribute.codeStart, attribute.codeLength, &bc) ||
      !describeLineSlots(cf, attribute, bc, &slots)) {
    ADD_FAILURE() << "test method doesn't parse";
    return {};
  }
  std::vector<bool> checks;
  slotsThatCheck(cf, attribute, bc, slots, &checks);
  return checks;
}

TEST(TouchedChecks, StraightLineCodeChecksOnceAndAgainAfterEachCall) {
  // 0 iconst_1; 1 istore_0; 2 invokestatic #1; 5 iconst_0; 6 istore_0; 7 return
  Bytes code = {0x04, 0x3b, 0xb8, 0x00, 0x01, 0x03, 0x3b, 0xb1};
  EXPECT_EQ(checksOf(code, {{0, 10}, {1, 11}, {2, 12}, {5, 13}, {7, 14}}),
            (std::vector<bool>{true, false, false, true, false}));
  // monitorenter can wait for as long as a call: 0 aload_0; 1 monitorenter; 2 return
  EXPECT_EQ(checksOf({0x2a, 0xc2, 0xb1}, {{0, 1}, {2, 2}}), (std::vector<bool>{true, true}));
}

TEST(TouchedChecks, JoinsOfCheckedPathsDontCheckButLoopsAndCallsOnTheWayDo) {
  // 0 iload_0; 1 ifeq 8; 4 iinc 0 1; 7 nop; 8 iload_0; 9 pop; 10 return
  Bytes join = {0x1a, 0x99, 0x00, 0x07, 0x84, 0x00, 0x01, 0x00, 0x1a, 0x57, 0xb1};
  EXPECT_EQ(checksOf(join, {{0, 1}, {4, 2}, {8, 3}}), (std::vector<bool>{true, false, false}));
  // The same with a call on one path: 7 invokestatic #1; 10 iload_0
  Bytes called = {0x1a, 0x99, 0x00, 0x09, 0x84, 0x00, 0x01, 0xb8, 0x00, 0x01, 0x1a, 0x57, 0xb1};
  EXPECT_EQ(checksOf(called, {{0, 1}, {4, 2}, {10, 3}}), (std::vector<bool>{true, false, true}));
  // A loop: 0 nop; 1 iload_0; 2 ifeq 8; 5 goto 1; 8 return. The loop's head
  // checks on every turn; the exit follows its check.
  Bytes loop = {0x00, 0x1a, 0x99, 0x00, 0x06, 0xa7, 0xff, 0xfc, 0xb1};
  EXPECT_EQ(checksOf(loop, {{0, 1}, {1, 2}, {8, 3}}), (std::vector<bool>{true, true, false}));
  // A switch's targets are forward jumps like the others: 0 iload_0;
  // 1 tableswitch (padding to 4) default 20, 0..0 -> 20; 20 return
  Bytes table = {0x1a, 0xaa, 0x00, 0x00, 0x00, 0x00, 0x00, 0x13, 0x00, 0x00, 0x00,
                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x13, 0xb1};
  EXPECT_EQ(checksOf(table, {{0, 1}, {20, 2}}), (std::vector<bool>{true, false}));
}

TEST(TouchedChecks, HandlersCheckAndSlotsOfOneOffsetCheckOnce) {
  // 0 nop; 1 aconst_null; 2 astore_0 (the handler of 0..1, also reached by
  // falling through); 3 return. Two slots at 2: only the first checks.
  Bytes code = {0x00, 0x01, 0x4b, 0xb1};
  EXPECT_EQ(checksOf(code, {{0, 1}, {1, 2}, {2, 3}, {2, 4}, {3, 5}}, {{0, 1, 2, 0}}),
            (std::vector<bool>{true, false, true, false, false}));
  // Unreachable code after a return checks: nothing checked reaches it.
  EXPECT_EQ(checksOf({0x00, 0xb1, 0xb1}, {{0, 1}, {2, 2}}), (std::vector<bool>{true, true}));
}

TEST(TouchedChecks, JumpsAndHandlersPastTheLastSlotChangeNothing) {
  // 0 iload_0; 1 ifeq 9; 4 nop; 5 invokestatic #1; 8 nop; 9 return, with a
  // handler at 9 for 4..5: the jump and the handler lie past the last slot.
  Bytes code = {0x1a, 0x99, 0x00, 0x08, 0x00, 0xb8, 0x00, 0x01, 0x00, 0xb1};
  EXPECT_EQ(checksOf(code, {{0, 1}, {4, 2}}, {{4, 5, 9, 0}}), (std::vector<bool>{true, false}));
  EXPECT_EQ(checksOf(code, {{0, 1}, {4, 2}, {8, 3}}, {{4, 5, 9, 0}}),
            (std::vector<bool>{true, false, true}));
  // One slot, wherever it lies, checks.
  EXPECT_EQ(checksOf(code, {{8, 1}}), (std::vector<bool>{true}));
}

}  // namespace
}  // namespace classfile
