#include "classfile/touched_checks.h"

#include <stdint.h>

#include <array>

#include "classfile/bytes.h"
#include "classfile/scratch.h"

namespace classfile {
namespace {

// Instructions after which the agent may have updated: every call, and a
// monitor wait of any length.
constexpr bool breaksChain(uint8_t opcode) {
  return (opcode >= 0xb6 && opcode <= 0xba) ||  // invokevirtual .. invokedynamic
         opcode == 0xc2 ||                      // monitorenter
         opcode == kJsr || opcode == kJsrW;
}

// The returns, athrow and ret end their path (a ret's successors follow
// their jsr, which breaks the chain itself), as do the unconditional jumps.
constexpr bool fallsThrough(uint8_t opcode) {
  return !((opcode >= 0xac && opcode <= 0xb1) || opcode == 0xbf || opcode == kRet ||
           opcode == kGoto || opcode == kGotoW || opcode == kTableswitch ||
           opcode == kLookupswitch);
}

// Both, looked up once per instruction.
enum OpcodeFlow : uint8_t { kBreaksChain = 1, kFallsThrough = 2 };
constexpr std::array<uint8_t, 256> kFlow = [] {
  std::array<uint8_t, 256> table{};
  for (int op = 0; op < 256; op++) {
    uint8_t opcode = static_cast<uint8_t>(op);
    table[op] = static_cast<uint8_t>((breaksChain(opcode) ? kBreaksChain : 0) |
                                     (fallsThrough(opcode) ? kFallsThrough : 0));
  }
  return table;
}();

enum State : uint8_t { kUnreached, kUnchecked, kChecked };

State meet(State a, State b) {
  if (a == kUnreached) return b;
  if (b == kUnreached) return a;
  return a == kChecked && b == kChecked ? kChecked : kUnchecked;
}

}  // namespace

void slotsThatCheck(const ClassFile& cf, const CodeAttribute& code, const Bytecode& bc,
                    const std::vector<LineSlot>& slots, std::vector<bool>* out) {
  std::vector<bool>& checks = *out;
  checks.assign(slots.size(), true);
  // The first slot always checks, so one slot needs no walk.
  if (slots.size() <= 1) return;
  // Nothing reaches back from past the last slot but loops, which check
  // anyway: the walk ends at its instruction.
  size_t count = bc.instructions.size();
  uint32_t lastOffset = slots.back().offset;
  if (lastOffset < bc.length && bc.isBoundary(lastOffset)) {
    count = static_cast<size_t>(bc.indexAt[lastOffset]) + 1;
  }
  // What reaches each instruction by a forward jump, met with its
  // fall-through predecessor as the walk arrives; kUnchecked from the start
  // for targets of backward jumps and for exception handlers.
  // Kept from call to call (scratch.h), refilled for each method: sized by its code, and allocating
  // them afresh for every method loaded at start-up cost more than the walk.
  struct Walk {
    std::vector<State> state;
    std::vector<uint8_t> barrier;
  };
  Scratch<Walk> lease;
  Walk& walk = *lease;
  std::vector<State>& state = walk.state;
  std::vector<uint8_t>& barrier = walk.barrier;
  // The targets of jumps back come with the decoding (loopHead); handlers
  // are marked here.
  state.assign(count, kUnreached);
  barrier.assign(code.exceptionCount > 0 ? count : 0, 0);
  for (uint32_t e = 0; e < code.exceptionCount; e++) {
    uint32_t handler = readU2(cf.data + code.exceptionsStart + 2 + 8 * static_cast<size_t>(e) + 4);
    if (handler < bc.length && bc.isBoundary(handler) &&
        static_cast<size_t>(bc.indexAt[handler]) < count) {
      barrier[bc.indexAt[handler]] = 1;
    }
  }
  if (count > 0) state[0] = kUnchecked;

  size_t s = 0;
  for (size_t i = 0; i < count; i++) {
    const Instruction& insn = bc.instructions[i];
    bool isBarrier = insn.loopHead || (!barrier.empty() && barrier[i]);
    State in = isBarrier || state[i] == kUnreached ? kUnchecked : state[i];
    for (; s < slots.size() && slots[s].offset == insn.offset; s++) {
      checks[s] = in != kChecked;
      in = kChecked;
    }
    uint8_t flow = kFlow[insn.opcode];
    State out = (flow & kBreaksChain) != 0 ? kUnchecked : in;
    if ((flow & kFallsThrough) != 0 && i + 1 < count) {
      state[i + 1] = meet(state[i + 1], out);
    }
    for (int32_t t : bc.targetsOf(insn)) {
      if (t != kOutsideCode && static_cast<uint32_t>(t) > insn.offset &&
          static_cast<uint32_t>(t) < bc.length && bc.isBoundary(static_cast<uint32_t>(t))) {
        uint32_t j = static_cast<uint32_t>(bc.indexAt[t]);
        if (j < count) state[j] = meet(state[j], out);
      }
    }
  }
}

}  // namespace classfile
