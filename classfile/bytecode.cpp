#include "classfile/bytecode.h"

#include <array>

#include "classfile/bytes.h"

namespace classfile {
namespace {

// Length of each fixed-size opcode; 0 for variable-length and unknown ones.
constexpr uint8_t fixedLengthOf(uint8_t op) {
  if (op <= 0x0f) return 1;
  if (op == 0x10 || op == 0x12) return 2;
  if (op == 0x11 || op == 0x13 || op == 0x14) return 3;
  if (op >= 0x15 && op <= 0x19) return 2;
  if (op >= 0x1a && op <= 0x35) return 1;
  if (op >= 0x36 && op <= 0x3a) return 2;
  if (op >= 0x3b && op <= 0x83) return 1;
  if (op == 0x84) return 3;
  if (op >= 0x85 && op <= 0x98) return 1;
  if (op >= 0x99 && op <= 0xa8) return 3;
  if (op == 0xa9) return 2;
  if (op >= 0xac && op <= 0xb1) return 1;
  if (op >= 0xb2 && op <= 0xb8) return 3;
  if (op == 0xb9 || op == 0xba) return 5;
  if (op == 0xbb) return 3;
  if (op == 0xbc) return 2;
  if (op == 0xbd) return 3;
  if (op == 0xbe || op == 0xbf) return 1;
  if (op == 0xc0 || op == 0xc1) return 3;
  if (op == 0xc2 || op == 0xc3) return 1;
  if (op == 0xc5) return 4;
  if (op == 0xc6 || op == 0xc7) return 3;
  if (op == 0xc8 || op == 0xc9) return 5;
  return 0;
}

constexpr BranchKind branchKindOf(uint8_t op) {
  if ((op >= kIfeq && op <= kIfAcmpne) || op == kIfnull || op == kIfnonnull) {
    return BranchKind::kConditional;
  }
  switch (op) {
    case kGoto:
      return BranchKind::kGoto;
    case kJsr:
      return BranchKind::kJsr;
    case kGotoW:
      return BranchKind::kGotoW;
    case kJsrW:
      return BranchKind::kJsrW;
    case kTableswitch:
      return BranchKind::kTableSwitch;
    case kLookupswitch:
      return BranchKind::kLookupSwitch;
    default:
      return BranchKind::kNone;
  }
}

// The two above as tables: the decoder looks up every instruction.
struct OpcodeInfo {
  uint8_t fixedLength;
  BranchKind branch;
};
constexpr std::array<OpcodeInfo, 256> kOpcodes = [] {
  std::array<OpcodeInfo, 256> table{};
  for (int op = 0; op < 256; op++) {
    table[op] = {fixedLengthOf(static_cast<uint8_t>(op)), branchKindOf(static_cast<uint8_t>(op))};
  }
  return table;
}();

// Length of the instruction at `at`, or 0 when it is malformed or truncated.
uint32_t instructionLength(const uint8_t* code, uint32_t length, uint32_t at) {
  uint8_t op = code[at];
  uint32_t n = kOpcodes[op].fixedLength;
  if (op == kWide) {
    if (length - at < 2) return 0;
    uint8_t inner = code[at + 1];
    if (inner == 0x84) {
      n = 6;
    } else if ((inner >= 0x15 && inner <= 0x19) || (inner >= 0x36 && inner <= 0x3a) ||
               inner == kRet) {
      n = 4;
    } else {
      return 0;
    }
  } else if (op == kTableswitch || op == kLookupswitch) {
    uint32_t base = (at + 4) & ~3u;  // operands start on a multiple of four
    // tableswitch: default, low, high; lookupswitch: default, npairs (which may be 0).
    if (base > length || length - base < (op == kTableswitch ? 12u : 8u)) return 0;
    uint64_t body;
    if (op == kTableswitch) {
      int32_t low = readS4(code + base + 4);
      int32_t high = readS4(code + base + 8);
      if (low > high) return 0;
      body = 12 + 4 * (static_cast<uint64_t>(static_cast<int64_t>(high) - low) + 1);
    } else {
      int32_t pairs = readS4(code + base + 4);
      if (pairs < 0) return 0;
      body = 8 + 8 * static_cast<uint64_t>(pairs);
    }
    if (body > length - base) return 0;
    n = static_cast<uint32_t>(base - at + body);
  }
  // Longer than any code the JVM takes (64 KiB): Instruction counts in 16 bits.
  if (n == 0 || n > length - at || n > 0xFFFF) return 0;
  return n;
}

// Where a jump from `from` by `delta` lands, kOutsideCode unless in 0 .. length.
int32_t landing(uint32_t from, int32_t delta, uint32_t length) {
  int64_t t = static_cast<int64_t>(from) + delta;
  return t < 0 || t > length ? kOutsideCode : static_cast<int32_t>(t);
}

// Appends the targets of the instruction at `at` (already known to fit);
// false for a switch with more targets than an Instruction can count.
bool addTargets(const uint8_t* code, uint32_t length, uint32_t at, BranchKind branch,
                std::vector<int32_t>* out, uint16_t* count) {
  const uint8_t* p = code + at;
  switch (branch) {
    case BranchKind::kNone:
      *count = 0;
      return true;
    case BranchKind::kConditional:
    case BranchKind::kGoto:
    case BranchKind::kJsr:
      out->push_back(landing(at, readS2(p + 1), length));
      *count = 1;
      return true;
    case BranchKind::kGotoW:
    case BranchKind::kJsrW:
      out->push_back(landing(at, readS4(p + 1), length));
      *count = 1;
      return true;
    case BranchKind::kTableSwitch:
    case BranchKind::kLookupSwitch:
      break;
  }
  const uint8_t* base = code + ((at + 4) & ~3u);
  bool table = branch == BranchKind::kTableSwitch;
  // instructionLength has checked that these counts fit in the code.
  int64_t n =
      table ? static_cast<int64_t>(readS4(base + 8)) - readS4(base + 4) + 1 : readS4(base + 4);
  if (n + 1 > 0xFFFF) return false;
  size_t first = out->size();
  out->resize(first + 1 + static_cast<size_t>(n));
  int32_t* t = out->data() + first;
  t[0] = landing(at, readS4(base), length);
  // A table's offsets follow low and high; a lookup's pairs put each after
  // its match.
  const uint8_t* offsets = base + 12;
  size_t stride = table ? 4 : 8;
  for (int64_t i = 0; i < n; i++) {
    t[1 + i] = landing(at, readS4(offsets + stride * static_cast<size_t>(i)), length);
  }
  *count = static_cast<uint16_t>(n + 1);
  return true;
}

}  // namespace

bool decodeBytecode(const uint8_t* code, uint32_t length, Bytecode* out) {
  out->code = code;
  out->length = length;
  std::vector<Instruction>& instructions = out->instructions;
  std::vector<int32_t>& targets = out->targets;
  instructions.clear();
  targets.clear();
  out->indexAt.assign(static_cast<size_t>(length) + 1, -1);
  int32_t* indexAt = out->indexAt.data();
  uint32_t at = 0;
  while (at < length) {
    uint8_t op = code[at];
    OpcodeInfo info = kOpcodes[op];
    // Most instructions have a fixed length and no jump: checked and
    // recorded here without the general path, which every method loaded at
    // start-up walks.
    uint32_t n = info.fixedLength;
    if (n == 0 || n > length - at) {
      n = instructionLength(code, length, at);
      if (n == 0) return false;
    }
    uint32_t first = static_cast<uint32_t>(targets.size());
    uint32_t index = static_cast<uint32_t>(instructions.size());
    indexAt[at] = static_cast<int32_t>(index);
    // The instruction is built from plain values once they are known: one
    // built first and patched through a pointer stayed on the stack, and
    // reading it back whole stalled on its partial writes.
    uint16_t targetCount = 0;
    bool loopHead = false;
    if (info.branch != BranchKind::kNone) {
      if (!addTargets(code, length, at, info.branch, &targets, &targetCount)) return false;
      // What a jump back (or to itself) leads to is decoded by now.
      for (size_t k = first; k < targets.size(); k++) {
        int32_t t = targets[k];
        if (t == kOutsideCode || static_cast<uint32_t>(t) > at || indexAt[t] < 0) continue;
        if (static_cast<uint32_t>(t) == at) {
          loopHead = true;
        } else {
          instructions[static_cast<size_t>(indexAt[t])].loopHead = true;
        }
      }
    }
    instructions.push_back(
        {at, first, static_cast<uint16_t>(n), targetCount, op, info.branch, loopHead});
    at += n;
  }
  indexAt[length] = static_cast<int32_t>(instructions.size());
  return length > 0;
}

uint8_t invertedCondition(uint8_t opcode) {
  if (opcode == kIfnull) return kIfnonnull;
  if (opcode == kIfnonnull) return kIfnull;
  return static_cast<uint8_t>(((opcode - kIfeq) ^ 1) + kIfeq);
}

}  // namespace classfile
