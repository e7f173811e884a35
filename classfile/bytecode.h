// Walks a method's bytecode once: where each instruction starts and how long
// it is (switch padding and wide forms included), and where its jumps lead.
// Line slots, touched checks and the rewriter all read this one decoding, so
// a method's code is walked once however many passes look at it.
//
// Thread-safety: plain values.
#ifndef CCOVER_CLASSFILE_BYTECODE_H_
#define CCOVER_CLASSFILE_BYTECODE_H_

#include <stdint.h>

#include <span>
#include <vector>

namespace classfile {

enum Opcode : uint8_t {
  kNop = 0x00,
  kIconst0 = 0x03,
  kBipush = 0x10,
  kSipush = 0x11,
  kLdc = 0x12,
  kLdcW = 0x13,
  kLdc2W = 0x14,
  kIfeq = 0x99,
  kIfAcmpne = 0xa6,
  kGoto = 0xa7,
  kJsr = 0xa8,
  kRet = 0xa9,
  kTableswitch = 0xaa,
  kLookupswitch = 0xab,
  kInvokestatic = 0xb8,
  kNew = 0xbb,
  kWide = 0xc4,
  kIfnull = 0xc6,
  kIfnonnull = 0xc7,
  kGotoW = 0xc8,
  kJsrW = 0xc9,
};

enum class BranchKind : uint8_t {
  kNone,
  kConditional,  // two-byte offset, falls through when not taken
  kGoto,
  kJsr,
  kGotoW,
  kJsrW,
  kTableSwitch,
  kLookupSwitch,
};

struct Instruction {
  uint32_t offset;
  uint32_t firstTarget;  // of its targets in Bytecode::targets
  uint16_t length;
  uint16_t targetCount;  // 0 unless it branches; a switch's default counts
  uint8_t opcode;
  BranchKind branch;
  bool loopHead;  // a jump from it or from later code leads here
};

// A jump's target when it lies outside the code (before 0 or past the end).
constexpr int32_t kOutsideCode = -1;

struct Bytecode {
  const uint8_t* code;
  uint32_t length;
  std::vector<Instruction> instructions;
  // Index of the instruction starting at each offset, -1 inside one; the
  // entry at `length` is the instruction count (the end of the code).
  std::vector<int32_t> indexAt;
  // The absolute targets of every branch, instruction after instruction
  // (a switch's default first); kOutsideCode for one outside 0 .. length.
  // Not checked against instruction starts: callers use isBoundary.
  std::vector<int32_t> targets;

  bool isBoundary(uint32_t offset) const { return offset <= length && indexAt[offset] >= 0; }
  std::span<const int32_t> targetsOf(const Instruction& insn) const {
    return {targets.data() + insn.firstTarget, insn.targetCount};
  }
};

// False for an unknown opcode, a truncated instruction, a wide form that
// doesn't exist, a switch whose counts are impossible or one longer than
// 64 KiB. out's vectors keep
// their capacity, so a caller may keep one Bytecode for many methods.
bool decodeBytecode(const uint8_t* code, uint32_t length, Bytecode* out);

// The conditional branch with the opposite condition.
uint8_t invertedCondition(uint8_t opcode);

}  // namespace classfile

#endif  // CCOVER_CLASSFILE_BYTECODE_H_
