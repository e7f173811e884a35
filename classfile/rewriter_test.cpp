// Pinned bytes for each rewriting rule: what the probes look like, where
// they land, and how every offset of the method follows them.
#include <string>

#include "classfile/instrument.h"
#include "classfile/test_class.h"
#include "gtest/gtest.h"

namespace classfile {
namespace {

struct Outcome {
  Bytes input;
  ClassOutcome outcome = ClassOutcome::kMalformed;
  Bytes output;
  ClassOutline outline;
  uint32_t base = 0;  // first constant the instrumenter appends

  uint8_t hi(uint32_t v) const { return static_cast<uint8_t>(v >> 8); }
  uint8_t lo(uint32_t v) const { return static_cast<uint8_t>(v); }
  // The probe calls: invokestatic Probes.line / entryLine / entry.
  Bytes line() const { return {0xb8, hi(base + 6), lo(base + 6)}; }
  Bytes entryLine() const { return {0xb8, hi(base + 9), lo(base + 9)}; }
  Bytes entry() const { return {0xb8, hi(base + 12), lo(base + 12)}; }
};

Outcome instrument(TestClass& tc, uint32_t classId = 100) {
  Outcome run;
  run.input = tc.build();
  ClassFile cf;
  if (!parseClassFile(run.input.data(), run.input.size(), &cf)) return run;
  run.base = cf.constantCount;
  run.outcome = instrumentClass(cf, classId, &run.output, &run.outline);
  return run;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes u2s(std::initializer_list<uint16_t> values) {
  Bytes out;
  for (uint16_t v : values) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
  }
  return out;
}

TEST(Rewriter, LineProbesPrecedeTheirInstructionsAndTheFirstCountsTheEntry) {
  TestClass tc;
  TestMethod m;
  m.code = {0x04, 0x3b, 0x1a, 0x57, 0xb1};  // iconst_1 istore_0 iload_0 pop return
  m.lines = {{0, 10}, {2, 11}};
  tc.methods.push_back(m);
  Outcome run = instrument(tc);
  ASSERT_EQ(run.outcome, ClassOutcome::kInstrumented);
  MethodView v = viewMethod(run.output, 0);
  ASSERT_TRUE(v.found);
  EXPECT_EQ(v.code, cat({{0x10, 101, 0x03},
                         run.entryLine(),
                         {0x04, 0x3b},
                         {0x10, 101, 0x04},
                         run.line(),
                         {0x1a, 0x57, 0xb1}}));
  EXPECT_EQ(v.maxStack, 4);
  EXPECT_EQ(attributeOf(v, "LineNumberTable"), u2s({2, 0, 10, 8, 11}));
  ASSERT_EQ(run.outline.methods.size(), 1u);
  EXPECT_EQ(run.outline.methods[0].lines, (std::vector<uint16_t>{10, 11}));
  EXPECT_EQ(run.outline.methods[0].outcome, MethodOutcome::kCounted);
}

TEST(Rewriter, EntryProbeRunsOnceWhenALoopJumpsBackToOffsetZero) {
  TestClass tc;
  tc.major = 49;
  TestMethod m;
  // 0: iload_0  1: ifeq 7  4: goto 0  7: return
  m.code = {0x1a, 0x99, 0x00, 0x06, 0xa7, 0xff, 0xfc, 0xb1};
  m.lines = {{0, 5}, {7, 6}};
  tc.methods.push_back(m);
  Outcome run = instrument(tc);
  ASSERT_EQ(run.outcome, ClassOutcome::kInstrumented);
  MethodView v = viewMethod(run.output, 0);
  // entry(101) first; the loop's goto lands after it, on line 5's probe.
  EXPECT_EQ(v.code, cat({{0x10, 101},
                         run.entry(),
                         {0x10, 101, 0x03},
                         run.line(),
                         {0x1a},
                         {0x99, 0x00, 0x06},
                         {0xa7, 0xff, 0xf6},
                         {0x10, 101, 0x04},
                         run.line(),
                         {0xb1}}));
  EXPECT_EQ(attributeOf(v, "LineNumberTable"), u2s({2, 5, 5, 18, 6}));
}

TEST(Rewriter, GotoThatOutgrowsSixteenBitsBecomesGotoW) {
  TestClass tc;
  tc.major = 49;
  TestMethod m;
  m.code = {0xa7, 0x7f, 0xfd};  // goto 32765
  m.code.resize(32765, 0x00);
  m.code.push_back(0xb1);
  m.lines = {{0, 1}, {3, 2}};
  tc.methods.push_back(m);
  Outcome run = instrument(tc);
  ASSERT_EQ(run.outcome, ClassOutcome::kInstrumented);
  MethodView v = viewMethod(run.output, 0);
  ASSERT_EQ(v.code.size(), 32780u);
  EXPECT_EQ(Bytes(v.code.begin(), v.code.begin() + 17), cat({{0x10, 101, 0x03},
                                                             run.entryLine(),
                                                             {0xc8, 0x00, 0x00, 0x80, 0x05},
                                                             {0x10, 101, 0x04},
                                                             run.line()}));
  EXPECT_EQ(v.code.back(), 0xb1);
}

// 0: iload_0  1: ifne 32767  4..32766: nop  32767: return
TestMethod longConditional() {
  TestMethod m;
  m.code = {0x1a, 0x9a, 0x7f, 0xfe};
  m.code.resize(32767, 0x00);
  m.code.push_back(0xb1);
  m.lines = {{0, 1}, {4, 2}};
  return m;
}

TEST(Rewriter, ConditionalThatOutgrowsSixteenBitsIsInvertedAroundGotoW) {
  TestClass tc;
  tc.major = 49;
  tc.methods.push_back(longConditional());
  Outcome run = instrument(tc);
  ASSERT_EQ(run.outcome, ClassOutcome::kInstrumented);
  MethodView v = viewMethod(run.output, 0);
  ASSERT_EQ(v.code.size(), 32785u);
  EXPECT_EQ(Bytes(v.code.begin(), v.code.begin() + 21), cat({{0x10, 101, 0x03},
                                                             run.entryLine(),
                                                             {0x1a},
                                                             {0x99, 0x00, 0x08},
                                                             {0xc8, 0x00, 0x00, 0x80, 0x06},
                                                             {0x10, 101, 0x04},
                                                             run.line()}));
}

TEST(Rewriter, InvertedConditionalReusesTheFrameOfTheNextInstruction) {
  TestClass tc;
  TestMethod m = longConditional();
  // same_frame at 4, same_frame_extended at 32767.
  m.stackMap = {0x04, 0xfb, 0x7f, 0xfa};
  m.frameCount = 2;
  tc.methods.push_back(m);
  Outcome run = instrument(tc);
  ASSERT_EQ(run.outcome, ClassOutcome::kInstrumented);
  MethodView v = viewMethod(run.output, 0);
  EXPECT_EQ(Bytes(v.code.begin() + 7, v.code.begin() + 15),
            Bytes({0x99, 0x00, 0x08, 0xc8, 0x00, 0x00, 0x80, 0x06}));
  // The frame of offset 4 moves to its probe at 15; the other to 32784.
  EXPECT_EQ(attributeOf(v, "StackMapTable"), Bytes({0x00, 0x02, 15, 0xfb, 0x80, 0x00}));
}

TEST(Rewriter, InvertedConditionalGetsAFrameWorkedOutFromTheOneBefore) {
  TestClass tc;
  TestMethod m = longConditional();
  m.descriptor = "(I)V";
  m.stackMap = {0xfb, 0x7f, 0xff};  // only the target's frame
  m.frameCount = 1;
  tc.methods.push_back(m);
  Outcome run = instrument(tc);
  ASSERT_EQ(run.outcome, ClassOutcome::kInstrumented);
  EXPECT_EQ(run.outline.methods[0].outcome, MethodOutcome::kCounted);
  MethodView v = viewMethod(run.output, 0);
  EXPECT_EQ(Bytes(v.code.begin() + 7, v.code.begin() + 15),
            Bytes({0x99, 0x00, 0x08, 0xc8, 0x00, 0x00, 0x80, 0x06}));
  // All frames in full: the new one at 15 (locals [int], empty stack) and
  // the target's at 32784.
  EXPECT_EQ(attributeOf(v, "StackMapTable"),
            Bytes({0x00, 0x02, 0xff, 0x00, 15, 0x00, 0x01, 0x01, 0x00, 0x00, 0xff, 0x80, 0x00, 0x00,
                   0x01, 0x01, 0x00, 0x00}));
}

TEST(Rewriter, InvertedConditionalWithoutAWorkableFrameFallsBackToTheEntryProbe) {
  TestClass tc;
  TestMethod m = longConditional();
  m.descriptor = "(I)V";
  uint16_t bogus = tc.utf8("not a method");
  // 0: invokestatic of a Utf8 constant (its types can't be known)  3: ifnull 32767
  m.code = {0xb8, static_cast<uint8_t>(bogus >> 8), static_cast<uint8_t>(bogus), 0xc6, 0x7f, 0xfc};
  m.code.resize(32767, 0x00);
  m.code.push_back(0xb1);
  m.stackMap = {0xfb, 0x7f, 0xff};
  m.frameCount = 1;
  m.lines = {{0, 1}, {6, 2}};
  tc.methods.push_back(m);
  Outcome run = instrument(tc);
  ASSERT_EQ(run.outcome, ClassOutcome::kInstrumented);
  MethodView v = viewMethod(run.output, 0);
  // entry(101) padded to eight bytes: every other offset moves by eight.
  EXPECT_EQ(Bytes(v.code.begin(), v.code.begin() + 9),
            cat({{0x10, 101}, run.entry(), {0x00, 0x00, 0x00}, {0xb8}}));
  EXPECT_EQ(attributeOf(v, "StackMapTable"), Bytes({0x00, 0x01, 0xfb, 0x80, 0x07}));
  EXPECT_EQ(run.outline.methods[0].outcome, MethodOutcome::kEntryOnly);
  EXPECT_EQ(run.outline.methods[0].reason, MethodReason::kNeedsFrame);
  EXPECT_TRUE(run.outline.methods[0].lines.empty());
}

// Rewrites method 0 of a class with the given insertions; empty on failure.
Bytes rewriteWith(TestClass& tc, const CodeInsertions& ins, RewriteStatus* status = nullptr) {
  Bytes input = tc.build();
  ClassFile cf;
  if (!parseClassFile(input.data(), input.size(), &cf)) return {};
  CodeAttribute code;
  Bytecode bc;
  if (!parseCodeAttribute(cf, cf.methods[0].attributes[0], &code) ||
      !decodeBytecode(cf.data + code.codeStart, code.codeLength, &bc)) {
    return {};
  }
  Bytes out;
  RewriteStatus s = rewriteCode(cf, code, bc, ins, &out);
  if (status != nullptr) *status = s;
  if (s != RewriteStatus::kOk) return {};
  uint32_t length = readU4(out.data() + 4);
  return Bytes(out.begin() + 8, out.begin() + 8 + length);
}

TEST(Rewriter, SwitchPaddingFollowsTheNewAlignment) {
  TestClass tc;
  tc.major = 49;
  TestMethod m;
  // 0: iload_0  1: tableswitch {default 24, 0: 24, 1: 25}  24: return  25: return
  m.code = cat({{0x1a, 0xaa, 0x00, 0x00}, u2s({0, 23, 0, 0, 0, 1, 0, 23, 0, 24}), {0xb1, 0xb1}});
  tc.methods.push_back(m);
  const Bytes expected[4] = {
      m.code,
      cat({{0x00, 0x1a, 0xaa, 0x00}, u2s({0, 22, 0, 0, 0, 1, 0, 22, 0, 23}), {0xb1, 0xb1}}),
      cat({{0x00, 0x00, 0x1a, 0xaa}, u2s({0, 21, 0, 0, 0, 1, 0, 21, 0, 22}), {0xb1, 0xb1}}),
      cat({{0x00, 0x00, 0x00, 0x1a, 0xaa, 0x00, 0x00, 0x00},
           u2s({0, 24, 0, 0, 0, 1, 0, 24, 0, 25}),
           {0xb1, 0xb1}}),
  };
  for (size_t k = 0; k < 4; k++) {
    CodeInsertions ins;
    ins.extraStack = 0;
    if (k > 0) ins.add(0, Bytes(k, 0x00));
    EXPECT_EQ(rewriteWith(tc, ins), expected[k]) << k << " bytes inserted";
  }
}

TEST(Rewriter, LookupSwitchKeepsItsKeysAndMovesItsTargets) {
  TestClass tc;
  tc.major = 49;
  TestMethod m;
  // 0: iload_0  1: lookupswitch {default 20, 7: 21}  20: return  21: return
  m.code = cat({{0x1a, 0xab, 0x00, 0x00}, u2s({0, 19, 0, 1, 0, 7, 0, 20}), {0xb1, 0xb1}});
  tc.methods.push_back(m);
  CodeInsertions ins;
  ins.extraStack = 0;
  ins.add(21, Bytes(3, 0x00));
  // The default keeps its distance; case 7 lands on the bytes inserted before 21.
  EXPECT_EQ(rewriteWith(tc, ins), cat({{0x1a, 0xab, 0x00, 0x00},
                                       u2s({0, 19, 0, 1, 0, 7, 0, 20}),
                                       {0xb1, 0x00, 0x00, 0x00, 0xb1}}));
  ins.at[0].first = 20;
  EXPECT_EQ(rewriteWith(tc, ins), cat({{0x1a, 0xab, 0x00, 0x00},
                                       u2s({0, 19, 0, 1, 0, 7, 0, 23}),
                                       {0x00, 0x00, 0x00, 0xb1, 0xb1}}));
}

TEST(Rewriter, LookupSwitchWithoutKeysIsAWholeInstruction) {
  TestClass tc;
  tc.major = 49;
  TestMethod m;
  m.descriptor = "(I)Ljava/lang/Object;";
  // 0: iload_0  1: lookupswitch {default 12}  12: aconst_null  13: areturn
  m.code = cat({{0x1a, 0xab, 0x00, 0x00}, u2s({0, 11, 0, 0}), {0x01, 0xb0}});
  tc.methods.push_back(m);
  CodeInsertions ins;
  ins.extraStack = 0;
  ins.add(0, Bytes(1, 0x00));
  EXPECT_EQ(rewriteWith(tc, ins),
            cat({{0x00, 0x1a, 0xab, 0x00}, u2s({0, 10, 0, 0}), {0x01, 0xb0}}));
}

TEST(Rewriter, UninitializedTypesFollowTheirNew) {
  TestClass tc;
  TestMethod m;
  uint16_t c = tc.classRef("X");
  // 0: new X  3: dup  4: iload_0  5: ifeq 12  8: iconst_1  9: goto 13
  // 12: iconst_0  13: invokespecial  16: return
  m.code = {0xbb,
            static_cast<uint8_t>(c >> 8),
            static_cast<uint8_t>(c),
            0x59,
            0x1a,
            0x99,
            0x00,
            0x07,
            0x04,
            0xa7,
            0x00,
            0x04,
            0x03,
            0xb7,
            0x00,
            0x01,
            0xb1};
  m.maxStack = 3;
  m.lines = {{0, 1}, {12, 2}};
  // full frames at 12 (locals [int], stack [uninit(0) x2]) and 13 (one more int)
  m.stackMap = {0xff, 0x00, 12,   0x00, 0x01, 0x01, 0x00, 0x02, 0x08, 0x00,
                0x00, 0x08, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x01, 0x01,
                0x00, 0x03, 0x08, 0x00, 0x00, 0x08, 0x00, 0x00, 0x01};
  m.frameCount = 2;
  tc.methods.push_back(m);
  Outcome run = instrument(tc);
  ASSERT_EQ(run.outcome, ClassOutcome::kInstrumented);
  MethodView v = viewMethod(run.output, 0);
  EXPECT_EQ(v.code, cat({{0x10, 101, 0x03},
                         run.entryLine(),
                         Bytes(m.code.begin(), m.code.begin() + 5),
                         {0x99, 0x00, 0x07, 0x04, 0xa7, 0x00, 0x0a},
                         {0x10, 101, 0x04},
                         run.line(),
                         Bytes(m.code.begin() + 12, m.code.end())}));
  EXPECT_EQ(attributeOf(v, "StackMapTable"),
            Bytes({0x00, 0x02, 0xff, 0x00, 18,   0x00, 0x01, 0x01, 0x00, 0x02, 0x08,
                   0x00, 0x06, 0x08, 0x00, 0x06, 0xff, 0x00, 0x06, 0x00, 0x01, 0x01,
                   0x00, 0x03, 0x08, 0x00, 0x06, 0x08, 0x00, 0x06, 0x01}));
}

TEST(Rewriter, ShortFramesThatMoveFarTakeTheirExtendedForm) {
  TestClass tc;
  TestMethod m;
  // 0: iload_0  1: ifeq 4  4: return; frames: same at 4, then same_locals_1 stack int at 5? —
  // one same_frame at 4 is enough: 60 bytes inserted before it push it past 63.
  m.code = {0x1a, 0x99, 0x00, 0x03, 0xb1};
  m.stackMap = {0x04};
  m.frameCount = 1;
  tc.methods.push_back(m);
  CodeInsertions ins;
  ins.extraStack = 0;
  ins.add(1, Bytes(60, 0x00));
  Bytes code = rewriteWith(tc, ins);
  ASSERT_EQ(code.size(), 65u);
  Bytes input = tc.build();
  ClassFile cf;
  ASSERT_TRUE(parseClassFile(input.data(), input.size(), &cf));
  CodeAttribute ca;
  Bytecode bc;
  ASSERT_TRUE(parseCodeAttribute(cf, cf.methods[0].attributes[0], &ca));
  ASSERT_TRUE(decodeBytecode(cf.data + ca.codeStart, ca.codeLength, &bc));
  Bytes out;
  ASSERT_EQ(rewriteCode(cf, ca, bc, ins, &out), RewriteStatus::kOk);
  // The attribute's contents end with the frame: same_frame_extended, delta 64.
  EXPECT_EQ(Bytes(out.end() - 5, out.end()), Bytes({0x00, 0x01, 0xfb, 0x00, 0x40}));
}

TEST(Rewriter, WideInstructionsAreWalkedWhole) {
  TestClass tc;
  TestMethod m;
  m.maxLocals = 301;
  // 0: wide iinc 300 1000  6: wide iload 300  10: pop  11: return
  m.code = {0xc4, 0x84, 0x01, 0x2c, 0x03, 0xe8, 0xc4, 0x15, 0x01, 0x2c, 0x57, 0xb1};
  m.lines = {{0, 1}, {6, 2}, {10, 3}};
  tc.methods.push_back(m);
  Outcome run = instrument(tc);
  ASSERT_EQ(run.outcome, ClassOutcome::kInstrumented);
  EXPECT_EQ(viewMethod(run.output, 0).code, cat({{0x10, 101, 0x03},
                                                 run.entryLine(),
                                                 {0xc4, 0x84, 0x01, 0x2c, 0x03, 0xe8},
                                                 {0x10, 101, 0x04},
                                                 run.line(),
                                                 {0xc4, 0x15, 0x01, 0x2c},
                                                 {0x10, 101, 0x05},
                                                 run.line(),
                                                 {0x57, 0xb1}}));
}

TEST(Rewriter, SubroutinesOfOldClassesKeepTheirJsrAndRet) {
  TestClass tc;
  tc.major = 45;
  TestMethod m;
  m.descriptor = "()I";
  // 0: jsr 5  3: iload_0  4: ireturn  5: astore_1  6: iinc 0 1  9: ret 1
  m.code = {0xa8, 0x00, 0x05, 0x1a, 0xac, 0x4c, 0x84, 0x00, 0x01, 0xa9, 0x01};
  m.lines = {{0, 10}, {5, 20}};
  tc.methods.push_back(m);
  Outcome run = instrument(tc);
  ASSERT_EQ(run.outcome, ClassOutcome::kInstrumented);
  EXPECT_EQ(viewMethod(run.output, 0).code, cat({{0x10, 101, 0x03},
                                                 run.entryLine(),
                                                 {0xa8, 0x00, 0x05, 0x1a, 0xac},
                                                 {0x10, 101, 0x04},
                                                 run.line(),
                                                 {0x4c, 0x84, 0x00, 0x01, 0xa9, 0x01}}));
}

TEST(Rewriter, ExceptionRangesAndLocalsCoverTheProbesOfTheirOffsets) {
  TestClass tc;
  tc.major = 49;
  TestMethod m;
  // 0: iconst_1  1: istore_0  2: goto 6  5: astore_1 (handler)  6: return
  m.code = {0x04, 0x3b, 0xa7, 0x00, 0x04, 0x4c, 0xb1};
  m.exceptions = {{0, 2, 5, 0}};
  m.lines = {{0, 1}, {5, 2}, {6, 3}};
  uint16_t x = tc.utf8("x"), i = tc.utf8("I");
  m.locals = {{2, 4, x, i, 0}};
  tc.methods.push_back(m);
  Outcome run = instrument(tc);
  ASSERT_EQ(run.outcome, ClassOutcome::kInstrumented);
  MethodView v = viewMethod(run.output, 0);
  EXPECT_EQ(v.code, cat({{0x10, 101, 0x03},
                         run.entryLine(),
                         {0x04, 0x3b, 0xa7, 0x00, 0x0a},
                         {0x10, 101, 0x04},
                         run.line(),
                         {0x4c},
                         {0x10, 101, 0x05},
                         run.line(),
                         {0xb1}}));
  EXPECT_EQ(v.exceptions, (std::vector<uint16_t>{0, 8, 11, 0}));
  EXPECT_EQ(attributeOf(v, "LineNumberTable"), u2s({3, 0, 1, 11, 2, 18, 3}));
  EXPECT_EQ(attributeOf(v, "LocalVariableTable"), u2s({1, 8, 10, x, i, 0}));
}

TestClass sized(uint32_t length) {
  TestClass tc;
  tc.major = 49;
  TestMethod m;
  m.code.assign(length - 1, 0x00);
  m.code.push_back(0xb1);
  m.lines = {{0, 1}, {100, 2}};
  tc.methods.push_back(m);
  return tc;
}

TEST(Rewriter, MethodsAtTheSizeLimitKeepWhatFits) {
  // 65520 + two probes of six bytes: fits.
  TestClass fits = sized(65520);
  Outcome all = instrument(fits);
  ASSERT_EQ(all.outcome, ClassOutcome::kInstrumented);
  EXPECT_EQ(viewMethod(all.output, 0).code.size(), 65532u);
  EXPECT_EQ(all.outline.methods[0].outcome, MethodOutcome::kCounted);
  // 65525 + 12 doesn't; the padded entry probe (8 bytes) does.
  TestClass entry = sized(65525);
  Outcome some = instrument(entry);
  ASSERT_EQ(some.outcome, ClassOutcome::kInstrumented);
  EXPECT_EQ(viewMethod(some.output, 0).code.size(), 65533u);
  EXPECT_EQ(some.outline.methods[0].outcome, MethodOutcome::kEntryOnly);
  EXPECT_EQ(some.outline.methods[0].reason, MethodReason::kTooLarge);
  EXPECT_TRUE(some.outline.methods[0].lines.empty());
  // 65530 + 8 doesn't either: left as it was, and said so.
  TestClass none = sized(65530);
  Outcome nothing = instrument(none);
  EXPECT_EQ(nothing.outcome, ClassOutcome::kUnchanged);
  EXPECT_EQ(nothing.outline.methods[0].outcome, MethodOutcome::kNotInstrumented);
  EXPECT_EQ(nothing.outline.methods[0].reason, MethodReason::kTooLarge);
}

}  // namespace
}  // namespace classfile
