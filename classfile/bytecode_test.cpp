// The one decoding that line slots, touched checks and the rewriter share:
// instruction starts and lengths where they are hardest to get right (wide
// forms, switch padding at every alignment, subroutines), where each branch
// leads, and which instructions a jump back reaches.
#include "classfile/bytecode.h"

#include <vector>

#include "gtest/gtest.h"

namespace classfile {
namespace {

using Bytes = std::vector<uint8_t>;

struct Decoded {
  std::vector<uint32_t> starts;
  std::vector<uint32_t> lengths;
  std::vector<std::vector<int32_t>> targets;  // per instruction
  std::vector<uint32_t> loopHeads;            // offsets
};

Decoded decode(const Bytes& code) {
  Bytecode bc;
  Decoded d;
  EXPECT_TRUE(decodeBytecode(code.data(), static_cast<uint32_t>(code.size()), &bc));
  for (const Instruction& insn : bc.instructions) {
    d.starts.push_back(insn.offset);
    d.lengths.push_back(insn.length);
    std::span<const int32_t> t = bc.targetsOf(insn);
    d.targets.emplace_back(t.begin(), t.end());
    if (insn.loopHead) d.loopHeads.push_back(insn.offset);
    EXPECT_EQ(bc.indexAt[insn.offset], static_cast<int32_t>(d.starts.size() - 1));
  }
  EXPECT_EQ(bc.indexAt[code.size()], static_cast<int32_t>(bc.instructions.size()));
  return d;
}

// After `at` nops and an iload_0, a tableswitch over 1..2 (to the end and
// back to 0), default to the end; then return.
Bytes tableswitchAt(uint32_t at) {
  Bytes code(at, 0x00);
  code.push_back(0x1a);  // iload_0
  uint32_t op = at + 1;
  code.push_back(0xaa);
  while (code.size() % 4 != 0) code.push_back(0x00);
  uint32_t end = static_cast<uint32_t>(code.size()) + 20;
  auto s4 = [&](int32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) code.push_back(static_cast<uint8_t>(v >> shift));
  };
  s4(static_cast<int32_t>(end - op));  // default
  s4(1);
  s4(2);
  s4(static_cast<int32_t>(end - op));
  s4(-static_cast<int32_t>(op));  // back to 0
  code.push_back(0xb1);           // return
  return code;
}

TEST(Bytecode, SwitchPaddingAtEveryAlignment) {
  for (uint32_t at = 0; at < 4; at++) {
    Bytes code = tableswitchAt(at);
    Decoded d = decode(code);
    uint32_t op = at + 1;
    uint32_t padding = (4 - ((op + 1) & 3)) & 3;
    uint32_t length = 1 + padding + 12 + 8;
    uint32_t end = op + length;
    ASSERT_EQ(d.starts.size(), at + 3) << "at " << at;
    EXPECT_EQ(d.starts[at + 1], op);
    EXPECT_EQ(d.lengths[at + 1], length) << "at " << at;
    EXPECT_EQ(d.starts[at + 2], end);
    EXPECT_EQ(d.targets[at + 1],
              (std::vector<int32_t>{static_cast<int32_t>(end), static_cast<int32_t>(end), 0}));
    EXPECT_EQ(d.loopHeads, std::vector<uint32_t>{0});
  }
}

TEST(Bytecode, LookupswitchTargetsSkipTheirMatches) {
  // 0 iload_0; 1 lookupswitch (2 bytes of padding) default 28, 5 -> 28,
  // -7 -> 1 (itself: a loop head); 28 return
  Bytes code = {0x1a, 0xab, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1b, 0x00, 0x00,
                0x00, 0x02, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x1b,
                0xff, 0xff, 0xff, 0xf9, 0x00, 0x00, 0x00, 0x00, 0xb1};
  Decoded d = decode(code);
  EXPECT_EQ(d.starts, (std::vector<uint32_t>{0, 1, 28}));
  EXPECT_EQ(d.targets[1], (std::vector<int32_t>{28, 28, 1}));
  EXPECT_EQ(d.loopHeads, std::vector<uint32_t>{1});
  // No pairs at all: only the default.
  Bytes none = {0xab, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0c, 0x00, 0x00, 0x00, 0x00, 0xb1};
  EXPECT_EQ(decode(none).targets[0], std::vector<int32_t>{12});
}

TEST(Bytecode, WideFormsSubroutinesAndLongJumps) {
  // 0 wide iinc 1 1000; 6 wide iload 300; 10 jsr 19; 13 goto_w 20;
  // 18 return; 19 astore_1 (the subroutine); 20 wide ret 1
  Bytes code = {0xc4, 0x84, 0x00, 0x01, 0x03, 0xe8, 0xc4, 0x15, 0x01, 0x2c, 0xa8, 0x00,
                0x09, 0xc8, 0x00, 0x00, 0x00, 0x07, 0xb1, 0x4c, 0xc4, 0xa9, 0x00, 0x01};
  Decoded d = decode(code);
  EXPECT_EQ(d.starts, (std::vector<uint32_t>{0, 6, 10, 13, 18, 19, 20}));
  EXPECT_EQ(d.lengths, (std::vector<uint32_t>{6, 4, 3, 5, 1, 1, 4}));
  EXPECT_EQ(d.targets[2], std::vector<int32_t>{19});
  EXPECT_EQ(d.targets[3], std::vector<int32_t>{20});
  EXPECT_TRUE(d.targets[6].empty()) << "ret's successors are not its own targets";
  EXPECT_TRUE(d.loopHeads.empty());
}

TEST(Bytecode, TargetsOutsideTheCodeAreMarkedNotWrapped) {
  // 0 goto -1; 3 goto_w -0x80000000; 8 ifeq 11 (the end: kept); 11 is the end
  Bytes code = {0xa7, 0xff, 0xff, 0xc8, 0x80, 0x00, 0x00, 0x00, 0x99, 0x00, 0x03};
  Decoded d = decode(code);
  EXPECT_EQ(d.targets[0], std::vector<int32_t>{kOutsideCode});
  EXPECT_EQ(d.targets[1], std::vector<int32_t>{kOutsideCode});
  EXPECT_EQ(d.targets[2], std::vector<int32_t>{11});
  // Into the middle of an instruction: kept, for isBoundary to refuse.
  Bytes inside = {0x00, 0xa7, 0x00, 0x01, 0xb1};  // 1 goto 2
  EXPECT_EQ(decode(inside).targets[1], std::vector<int32_t>{2});
  EXPECT_TRUE(decode(inside).loopHeads.empty());
}

TEST(Bytecode, MalformedCodeIsRefused) {
  Bytecode bc;
  const Bytes cases[] = {
      {0xc4, 0x84, 0x00},  // wide iinc cut short
      {0xc4, 0x10, 0x00},  // wide bipush does not exist
      {0xaa, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0c, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
       0x01},  // tableswitch low 2 > high 1
      {0xab, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0c, 0xff, 0xff, 0xff, 0xff},  // npairs -1
      {0xba},                                                                    // cut short
      {0xcb},                                                                    // not an opcode
  };
  for (const Bytes& code : cases) {
    EXPECT_FALSE(decodeBytecode(code.data(), static_cast<uint32_t>(code.size()), &bc))
        << "opcode " << static_cast<int>(code[0]);
  }
}

// A Bytecode kept from method to method holds nothing of the one before.
TEST(Bytecode, ReusedDecodingForgetsThePreviousMethod) {
  Bytecode bc;
  Bytes big = tableswitchAt(3);
  ASSERT_TRUE(decodeBytecode(big.data(), static_cast<uint32_t>(big.size()), &bc));
  Bytes small = {0x00, 0xa7, 0xff, 0xff, 0xb1};  // 1 goto 0
  ASSERT_TRUE(decodeBytecode(small.data(), static_cast<uint32_t>(small.size()), &bc));
  ASSERT_EQ(bc.instructions.size(), 3u);
  EXPECT_EQ(bc.targets, std::vector<int32_t>{0});
  EXPECT_TRUE(bc.instructions[0].loopHead);
  EXPECT_FALSE(bc.instructions[2].loopHead);
  EXPECT_EQ(bc.indexAt.size(), small.size() + 1);
}

}  // namespace
}  // namespace classfile
