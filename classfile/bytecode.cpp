#include "classfile/bytecode.h"

#include "classfile/bytes.h"

namespace classfile {
namespace {

// Length of each fixed-size opcode; 0 for variable-length and unknown ones.
uint8_t fixedLength(uint8_t op) {
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

BranchKind branchKind(uint8_t op) {
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

// Length of the instruction at `at`, or 0 when it is malformed or truncated.
uint32_t instructionLength(const uint8_t* code, uint32_t length, uint32_t at) {
  uint8_t op = code[at];
  uint32_t n = fixedLength(op);
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
  if (n == 0 || n > length - at) return 0;
  return n;
}

}  // namespace

bool decodeBytecode(const uint8_t* code, uint32_t length, Bytecode* out) {
  out->code = code;
  out->length = length;
  out->instructions.clear();
  out->indexAt.assign(static_cast<size_t>(length) + 1, -1);
  uint32_t at = 0;
  while (at < length) {
    uint32_t n = instructionLength(code, length, at);
    if (n == 0) return false;
    out->indexAt[at] = static_cast<int32_t>(out->instructions.size());
    out->instructions.push_back({at, n, code[at], branchKind(code[at])});
    at += n;
  }
  out->indexAt[length] = static_cast<int32_t>(out->instructions.size());
  return length > 0;
}

void branchTargets(const Bytecode& bc, const Instruction& insn, std::vector<int64_t>* out) {
  const uint8_t* p = bc.code + insn.offset;
  int64_t from = insn.offset;
  switch (insn.branch) {
    case BranchKind::kNone:
      return;
    case BranchKind::kConditional:
    case BranchKind::kGoto:
    case BranchKind::kJsr:
      out->push_back(from + readS2(p + 1));
      return;
    case BranchKind::kGotoW:
    case BranchKind::kJsrW:
      out->push_back(from + readS4(p + 1));
      return;
    case BranchKind::kTableSwitch:
    case BranchKind::kLookupSwitch: {
      const uint8_t* base = bc.code + ((insn.offset + 4) & ~3u);
      out->push_back(from + readS4(base));
      if (insn.branch == BranchKind::kTableSwitch) {
        int64_t count = static_cast<int64_t>(readS4(base + 8)) - readS4(base + 4) + 1;
        for (int64_t i = 0; i < count; i++) out->push_back(from + readS4(base + 12 + 4 * i));
      } else {
        int64_t pairs = readS4(base + 4);
        for (int64_t i = 0; i < pairs; i++) out->push_back(from + readS4(base + 12 + 8 * i));
      }
      return;
    }
  }
}

uint8_t invertedCondition(uint8_t opcode) {
  if (opcode == kIfnull) return kIfnonnull;
  if (opcode == kIfnonnull) return kIfnull;
  return static_cast<uint8_t>(((opcode - kIfeq) ^ 1) + kIfeq);
}

}  // namespace classfile
