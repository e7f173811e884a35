#include "classfile/code_rewriter.h"

#include <algorithm>
#include <memory>

#include "classfile/bytes.h"
#include "classfile/scratch.h"

namespace classfile {
namespace {

constexpr uint32_t kMaxCodeLength = 0xFFFF;

// Where every old instruction lands: the start of the code inserted before it
// (what jumps, handlers and tables point to) and the start of the instruction
// itself. Entry n is the end of the code.
//
// Raw arrays, grown and never shrunk: most methods are a few instructions
// long, and resizing four vectors for each cost more than its layout.
// widened is only cleared (and read) once a jump has been widened.
struct Layout {
  std::unique_ptr<uint32_t[]> table;  // probeStart, insnStart, newLength
  std::unique_ptr<uint8_t[]> widenedTable;
  size_t capacity = 0;  // instructions each part has room for
  uint32_t* probeStart = nullptr;
  uint32_t* insnStart = nullptr;
  uint32_t* newLength = nullptr;
  uint8_t* widened = nullptr;
  bool anyWidened = false;
  uint32_t end = 0;

  void prepare(size_t n) {
    if (n + 1 > capacity) {
      capacity = std::max(n + 1, 2 * capacity);
      table = std::make_unique<uint32_t[]>(3 * capacity);
      widenedTable = std::make_unique<uint8_t[]>(capacity);
    }
    probeStart = table.get();
    insnStart = probeStart + capacity;
    newLength = insnStart + capacity;
    widened = widenedTable.get();
    anyWidened = false;
  }
  bool isWidened(size_t i) const { return anyWidened && widened[i] != 0; }
};

uint32_t switchPadding(uint32_t at) { return (4 - ((at + 1) & 3)) & 3; }

uint32_t lengthAt(const Instruction& insn, bool widened, uint32_t at) {
  switch (insn.branch) {
    case BranchKind::kTableSwitch:
    case BranchKind::kLookupSwitch:
      return insn.length - switchPadding(insn.offset) + switchPadding(at);
    case BranchKind::kConditional:
      return widened ? 8 : 3;
    case BranchKind::kGoto:
    case BranchKind::kJsr:
      return widened ? 5 : 3;
    default:
      return insn.length;
  }
}

// The rewriter's tables, kept from method to method (scratch.h): they are
// sized by the code, and growing fresh ones for each of the methods loaded at
// start-up cost more than filling them. Each rewriteCode refills them.
struct RewriteScratch {
  std::vector<uint8_t> hasFrame;
  Layout layout;
};

struct Rewriter {
  const ClassFile& cf;
  const CodeAttribute& code;
  const Bytecode& bc;
  const CodeInsertions& ins;
  std::vector<uint8_t>& hasFrame;  // per old offset, from the StackMapTable (if any)
  bool hasStackMap = false;
  const Attribute* stackMap = nullptr;
  std::vector<FrameState> frames;    // the table's frames in full, once needed
  std::vector<FrameState> inserted;  // new frames after inverted conditionals
  Layout& layout;

  uint32_t target(int64_t old) const {
    return layout.probeStart[static_cast<size_t>(bc.indexAt[static_cast<size_t>(old)])];
  }

  // Any offset of a debugging table: boundaries move with their inserted
  // code; an offset inside an instruction keeps its distance from its start.
  bool mapDebug(uint32_t old, uint32_t* out) const {
    if (old > bc.length) return false;
    if (bc.indexAt[old] >= 0) {
      *out = layout.probeStart[static_cast<size_t>(bc.indexAt[old])];
      return true;
    }
    uint32_t at = old;
    while (bc.indexAt[at] < 0) at--;
    size_t i = static_cast<size_t>(bc.indexAt[at]);
    uint32_t inside = old - at;
    if (inside >= layout.newLength[i]) inside = layout.newLength[i] - 1;
    *out = layout.insnStart[i] + inside;
    return true;
  }

  RewriteStatus validate();
  RewriteStatus computeLayout();
  bool emitCode(uint8_t* out);
  void writeExceptions(ByteWriter& w);
  bool writeLineNumbers(const Attribute& a, ByteWriter& w);
  bool writeLocals(const Attribute& a, ByteWriter& w);
  bool writeStackMap(const Attribute& a, ByteWriter& w);
  void writeFullFrames(ByteWriter& w);
  bool addFrameAfter(const Instruction& branch);
  bool scanStackMap(const Attribute& a);
};

bool Rewriter::scanStackMap(const Attribute& a) {
  ByteReader r(cf.data, a.info + static_cast<size_t>(a.length));
  r.offset = a.info;
  // Each uninitialized(offset) must name a `new`, so that it can follow it.
  auto checkTypes = [&](uint32_t n) {
    for (uint32_t k = 0; k < n && !r.failed; k++) {
      uint32_t tag = r.u1();
      if (tag == 7) {
        r.u2();
      } else if (tag == 8) {
        uint32_t at = r.u2();
        if (at >= bc.length || bc.indexAt[at] < 0 || bc.code[at] != kNew) return false;
      } else if (tag > 8) {
        return false;
      }
    }
    return !r.failed;
  };
  uint32_t count = r.u2();
  int64_t offset = -1;
  for (uint32_t f = 0; f < count && !r.failed; f++) {
    uint32_t type = r.u1();
    uint32_t delta;
    bool ok = true;
    if (type < 64) {
      delta = type;
    } else if (type < 128) {
      delta = type - 64;
      ok = checkTypes(1);
    } else if (type < 247) {
      return false;
    } else {
      delta = r.u2();
      if (type == 247) {
        ok = checkTypes(1);
      } else if (type >= 252 && type <= 254) {
        ok = checkTypes(type - 251);
      } else if (type == 255) {
        ok = checkTypes(r.u2()) && checkTypes(r.u2());
      }
    }
    if (!ok) return false;
    offset = offset < 0 ? delta : offset + delta + 1;
    if (offset >= bc.length || bc.indexAt[static_cast<size_t>(offset)] < 0) return false;
    hasFrame[static_cast<size_t>(offset)] = 1;
  }
  return !r.failed && r.offset == a.info + static_cast<size_t>(a.length);
}

RewriteStatus Rewriter::validate() {
  uint32_t last = 0;
  bool first = true;
  for (size_t k = 0; k < ins.at.size(); k++) {
    uint32_t offset = ins.at[k].first;
    if (offset >= bc.length || bc.indexAt[offset] < 0 || (!first && offset <= last) ||
        ins.at[k].second < ins.codeStart(k) || ins.at[k].second > ins.code.size()) {
      return RewriteStatus::kMalformed;
    }
    last = offset;
    first = false;
  }
  for (int32_t t : bc.targets) {
    if (t == kOutsideCode || static_cast<uint32_t>(t) >= bc.length ||
        bc.indexAt[static_cast<size_t>(t)] < 0) {
      return RewriteStatus::kMalformed;
    }
  }
  for (uint32_t e = 0; e < code.exceptionCount; e++) {
    const uint8_t* p = cf.data + code.exceptionsStart + 2 + 8 * static_cast<size_t>(e);
    uint32_t start = readU2(p), end = readU2(p + 2), handler = readU2(p + 4);
    if (start >= end || !bc.isBoundary(start) || !bc.isBoundary(end) || handler >= bc.length ||
        !bc.isBoundary(handler)) {
      return RewriteStatus::kMalformed;
    }
  }
  for (const Attribute& a : code.attributes) {
    if (a.kind == AttributeKind::kStackMapTable) {
      if (hasStackMap) return RewriteStatus::kMalformed;
      // Only read with a stack map: code without one (no branches) skips it.
      hasFrame.assign(bc.length, 0);
      if (!scanStackMap(a)) return RewriteStatus::kMalformed;
      hasStackMap = true;
      stackMap = &a;
    }
  }
  return RewriteStatus::kOk;
}

RewriteStatus Rewriter::computeLayout() {
  size_t n = bc.instructions.size();
  // Every entry but widened's is written below before it is read.
  layout.prepare(n);
  // Widening only ever grows the code, so this ends after at most one pass
  // per branch; in practice after one.
  while (true) {
    uint64_t at = ins.prefix.size();
    // The insertions, validated as ascending instruction starts, are met in
    // step with the instructions.
    size_t k = 0;
    uint32_t nextInsertion = ins.at.empty() ? bc.length : ins.at[0].first;
    for (size_t i = 0; i < n; i++) {
      const Instruction& insn = bc.instructions[i];
      layout.probeStart[i] = static_cast<uint32_t>(at);
      if (insn.offset == nextInsertion) {
        at += ins.at[k].second - ins.codeStart(k);
        k++;
        nextInsertion = k < ins.at.size() ? ins.at[k].first : bc.length;
      }
      layout.insnStart[i] = static_cast<uint32_t>(at);
      uint32_t length = insn.branch == BranchKind::kNone
                            ? insn.length
                            : lengthAt(insn, layout.isWidened(i), static_cast<uint32_t>(at));
      layout.newLength[i] = length;
      at += length;
    }
    // at only grows (and can't wrap: code and insertions are far below
    // 4 GiB), so checking it once here is checking it at every step.
    if (at > 4 * static_cast<uint64_t>(kMaxCodeLength)) return RewriteStatus::kTooLarge;
    layout.probeStart[n] = layout.insnStart[n] = static_cast<uint32_t>(at);
    layout.end = static_cast<uint32_t>(at);
    // Code of at most 32767 bytes holds no jump too long for two bytes: the
    // case of nearly every method, which then needs no look at its branches.
    if (layout.end <= 32767) break;
    if (!layout.anyWidened) {
      std::fill(layout.widened, layout.widened + n, 0);
      layout.anyWidened = true;
    }
    bool changed = false;
    for (size_t i = 0; i < n; i++) {
      const Instruction& insn = bc.instructions[i];
      if (layout.widened[i] ||
          (insn.branch != BranchKind::kConditional && insn.branch != BranchKind::kGoto &&
           insn.branch != BranchKind::kJsr)) {
        continue;
      }
      int64_t delta =
          static_cast<int64_t>(target(bc.targets[insn.firstTarget])) - layout.insnStart[i];
      if (delta >= -32768 && delta <= 32767) continue;
      if (insn.branch == BranchKind::kConditional && hasStackMap) {
        // The instruction after the goto_w becomes a jump target: it needs a
        // frame, and only one that the table already has can be moved there.
        uint32_t next = insn.offset + insn.length;
        if (next >= bc.length) return RewriteStatus::kMalformed;
        if (!hasFrame[next] && !addFrameAfter(insn)) return RewriteStatus::kNeedsFrame;
      }
      layout.widened[i] = 1;
      changed = true;
    }
    if (!changed) break;
  }
  return layout.end > kMaxCodeLength ? RewriteStatus::kTooLarge : RewriteStatus::kOk;
}

// Fills exactly layout.end bytes, which computeLayout counted instruction by
// instruction. False if what is written strays from that count (checked at
// every branch and at the end): a bug, but one that must not pass unseen.
bool Rewriter::emitCode(uint8_t* out) {
  uint8_t* w = putBytes(out, ins.prefix.data(), ins.prefix.size());
  size_t probe = 0;
  size_t n = bc.instructions.size();
  uint32_t nextProbe = ins.at.empty() ? bc.length : ins.at[0].first;
  for (size_t i = 0; i < n;) {
    const Instruction& insn = bc.instructions[i];
    if (insn.offset == nextProbe) {
      w = putBytes(w, ins.code.data() + ins.codeStart(probe),
                   ins.at[probe].second - ins.codeStart(probe));
      probe++;
      nextProbe = probe < ins.at.size() ? ins.at[probe].first : bc.length;
    }
    if (insn.branch == BranchKind::kNone) {
      // Instructions that don't branch keep their bytes: the run up to the
      // next branch or probe goes in one copy.
      size_t j = i + 1;
      while (j < n && bc.instructions[j].branch == BranchKind::kNone &&
             bc.instructions[j].offset != nextProbe) {
        j++;
      }
      uint32_t end = j < n ? bc.instructions[j].offset : bc.length;
      w = putBytes(w, bc.code + insn.offset, end - insn.offset);
      i = j;
      continue;
    }
    if (w != out + layout.insnStart[i]) return false;
    int64_t here = layout.insnStart[i];
    const int32_t* targets = bc.targets.data() + insn.firstTarget;
    auto rel = [&](size_t k) { return static_cast<uint32_t>(target(targets[k]) - here); };
    switch (insn.branch) {
      case BranchKind::kNone:
        break;
      case BranchKind::kConditional:
        if (layout.isWidened(i)) {
          w = putU1(w, invertedCondition(insn.opcode));
          w = putU2(w, 8);
          w = putU1(w, kGotoW);
          w = putU4(w, static_cast<uint32_t>(target(targets[0]) - (here + 3)));
        } else {
          w = putU1(w, insn.opcode);
          w = putU2(w, rel(0));
        }
        break;
      case BranchKind::kGoto:
      case BranchKind::kJsr:
        if (layout.isWidened(i)) {
          w = putU1(w, insn.branch == BranchKind::kGoto ? kGotoW : kJsrW);
          w = putU4(w, rel(0));
        } else {
          w = putU1(w, insn.opcode);
          w = putU2(w, rel(0));
        }
        break;
      case BranchKind::kGotoW:
      case BranchKind::kJsrW:
        w = putU1(w, insn.opcode);
        w = putU4(w, rel(0));
        break;
      case BranchKind::kTableSwitch:
      case BranchKind::kLookupSwitch: {
        w = putU1(w, insn.opcode);
        for (uint32_t k = switchPadding(static_cast<uint32_t>(here)); k > 0; k--) w = putU1(w, 0);
        const uint8_t* operands = bc.code + ((insn.offset + 4) & ~3u);
        w = putU4(w, rel(0));
        if (insn.branch == BranchKind::kTableSwitch) {
          w = putBytes(w, operands + 4, 8);  // low, high
          for (size_t k = 1; k < insn.targetCount; k++) w = putU4(w, rel(k));
        } else {
          w = putBytes(w, operands + 4, 4);  // npairs
          for (size_t k = 1; k < insn.targetCount; k++) {
            w = putBytes(w, operands + 8 * k, 4);  // match
            w = putU4(w, rel(k));
          }
        }
        break;
      }
    }
    i++;
  }
  return w == out + layout.end;
}

void Rewriter::writeExceptions(ByteWriter& out) {
  uint8_t* w = out.extend(2 + 8 * static_cast<size_t>(code.exceptionCount));
  w = putU2(w, code.exceptionCount);
  for (uint32_t e = 0; e < code.exceptionCount; e++) {
    const uint8_t* p = cf.data + code.exceptionsStart + 2 + 8 * static_cast<size_t>(e);
    w = putU2(w, target(readU2(p)));
    w = putU2(w, target(readU2(p + 2)));
    w = putU2(w, target(readU2(p + 4)));
    w = putBytes(w, p + 6, 2);
  }
}

bool Rewriter::writeLineNumbers(const Attribute& a, ByteWriter& w) {
  if (a.length < 2) return false;
  const uint8_t* p = cf.data + a.info;
  uint32_t count = readU2(p);
  if (a.length != 2 + 4 * count) return false;
  uint8_t* to = putU2(w.extend(a.length), count);
  for (uint32_t k = 0; k < count; k++) {
    uint32_t moved;
    if (!mapDebug(readU2(p + 2 + 4 * static_cast<size_t>(k)), &moved)) return false;
    to = putU2(to, moved);
    to = putBytes(to, p + 4 + 4 * static_cast<size_t>(k), 2);
  }
  return true;
}

bool Rewriter::writeLocals(const Attribute& a, ByteWriter& w) {
  if (a.length < 2) return false;
  const uint8_t* p = cf.data + a.info;
  uint32_t count = readU2(p);
  if (a.length != 2 + 10 * count) return false;
  uint8_t* to = putU2(w.extend(a.length), count);
  for (uint32_t k = 0; k < count; k++) {
    const uint8_t* e = p + 2 + 10 * static_cast<size_t>(k);
    uint32_t start = readU2(e);
    uint32_t end = start + readU2(e + 2);
    uint32_t newStart, newEnd;
    if (!mapDebug(start, &newStart) || !mapDebug(end, &newEnd)) return false;
    to = putU2(to, newStart);
    to = putU2(to, newEnd - newStart);
    to = putBytes(to, e + 4, 6);
  }
  return true;
}

// Works out the frame of the instruction after `branch` and keeps it for
// writing; false where that can't be done.
bool Rewriter::addFrameAfter(const Instruction& branch) {
  if (ins.method == nullptr || ins.classes.classIndex == nullptr) return false;
  FrameState initial;
  if (!initialFrame(cf, *ins.method, ins.classes, &initial)) return false;
  if (frames.empty() &&
      !decodeStackMap(cf.data + stackMap->info, stackMap->length, initial, &frames)) {
    return false;
  }
  const FrameState* from = &initial;
  for (const FrameState& f : frames) {
    if (f.offset <= branch.offset) from = &f;
  }
  FrameState after;
  if (!stateAfterConditional(cf, bc, *from, branch.offset, ins.classes, &after)) return false;
  after.offset = branch.offset + branch.length;
  inserted.push_back(after);
  hasFrame[after.offset] = 1;
  return true;
}

// With frames added, every frame is written in full: a compressed frame
// after an added one would otherwise be read against the wrong locals.
void Rewriter::writeFullFrames(ByteWriter& w) {
  std::vector<const FrameState*> all;
  for (const FrameState& f : frames) all.push_back(&f);
  for (const FrameState& f : inserted) all.push_back(&f);
  std::sort(all.begin(), all.end(),
            [](const FrameState* a, const FrameState* b) { return a->offset < b->offset; });
  w.u2(static_cast<uint32_t>(all.size()));
  int64_t previous = -1;
  auto types = [&](const std::vector<VType>& list) {
    w.u2(static_cast<uint32_t>(list.size()));
    for (const VType& t : list) {
      w.u1(t.tag);
      if (t.tag == kObjectType) {
        w.u2(t.data);
      } else if (t.tag == kUninitializedType) {
        w.u2(layout.insnStart[static_cast<size_t>(bc.indexAt[t.data])]);
      }
    }
  };
  for (const FrameState* f : all) {
    uint32_t moved = target(f->offset);
    w.u1(255);
    w.u2(static_cast<uint32_t>(previous < 0 ? moved : moved - previous - 1));
    previous = moved;
    types(f->locals);
    types(f->stack);
  }
}

bool Rewriter::writeStackMap(const Attribute& a, ByteWriter& w) {
  if (!inserted.empty()) {
    writeFullFrames(w);
    return true;
  }
  // Already checked by scanStackMap: only the writing is left.
  ByteReader r(cf.data, a.info + static_cast<size_t>(a.length));
  r.offset = a.info;
  uint32_t count = r.u2();
  w.u2(count);
  int64_t oldOffset = -1;
  int64_t newOffset = -1;
  auto copyTypes = [&](uint32_t n) {
    for (uint32_t k = 0; k < n; k++) {
      uint32_t tag = r.u1();
      w.u1(tag);
      if (tag == 7) {
        w.u2(r.u2());
      } else if (tag == 8) {
        uint32_t at = r.u2();
        w.u2(layout.insnStart[static_cast<size_t>(bc.indexAt[at])]);
      }
    }
  };
  for (uint32_t f = 0; f < count; f++) {
    uint32_t type = r.u1();
    uint32_t delta = type < 64 ? type : type < 128 ? type - 64 : r.u2();
    oldOffset = oldOffset < 0 ? delta : oldOffset + delta + 1;
    uint32_t moved = target(oldOffset);
    uint32_t newDelta = static_cast<uint32_t>(newOffset < 0 ? moved : moved - newOffset - 1);
    newOffset = moved;
    if (type < 64 || type == 251) {
      if (newDelta < 64) {
        w.u1(newDelta);
      } else {
        w.u1(251);
        w.u2(newDelta);
      }
    } else if (type < 128 || type == 247) {
      if (newDelta < 64) {
        w.u1(64 + newDelta);
      } else {
        w.u1(247);
        w.u2(newDelta);
      }
      copyTypes(1);
    } else if (type < 251) {
      w.u1(type);
      w.u2(newDelta);
    } else if (type < 255) {
      w.u1(type);
      w.u2(newDelta);
      copyTypes(type - 251);
    } else {
      w.u1(type);
      w.u2(newDelta);
      uint32_t locals = r.u2();
      w.u2(locals);
      copyTypes(locals);
      uint32_t stack = r.u2();
      w.u2(stack);
      copyTypes(stack);
    }
  }
  return !r.failed;
}

}  // namespace

bool parseCodeAttribute(const ClassFile& cf, const Attribute& a, CodeAttribute* out) {
  size_t end = a.info + static_cast<size_t>(a.length);
  ByteReader r(cf.data, end);
  r.offset = a.info;
  out->maxStack = static_cast<uint16_t>(r.u2());
  out->maxLocals = static_cast<uint16_t>(r.u2());
  out->codeLength = r.u4();
  out->codeStart = static_cast<uint32_t>(r.offset);
  if (r.failed || out->codeLength == 0 || out->codeLength > kMaxCodeLength) return false;
  r.skip(out->codeLength);
  out->exceptionsStart = static_cast<uint32_t>(r.offset);
  out->exceptionCount = static_cast<uint16_t>(r.u2());
  r.skip(8 * static_cast<size_t>(out->exceptionCount));
  if (r.failed) return false;
  out->attributes.clear();
  size_t at = r.offset;
  return readAttributes(cf, end, &at, &out->attributes) && at == end;
}

RewriteStatus rewriteCode(const ClassFile& cf, const CodeAttribute& code, const Bytecode& bc,
                          const CodeInsertions& insertions, std::vector<uint8_t>* out) {
  Scratch<RewriteScratch> lease;
  RewriteScratch& scratch = *lease;
  Rewriter rw{cf, code, bc, insertions, scratch.hasFrame, false, nullptr, {}, {}, scratch.layout};
  RewriteStatus status = rw.validate();
  if (status != RewriteStatus::kOk) return status;
  status = rw.computeLayout();
  if (status != RewriteStatus::kOk) return status;
  uint32_t maxStack = static_cast<uint32_t>(code.maxStack) + insertions.extraStack;
  if (maxStack > 0xFFFF) return RewriteStatus::kTooLarge;

  // Written into out's own buffer: the caller may keep it from method to
  // method.
  ByteWriter w;
  w.bytes.swap(*out);
  w.bytes.clear();
  // What the attributes take, but for a stack map whose frames' offsets grow
  // (some frames by two bytes): one reservation is enough in practice.
  size_t attributeBytes = 0;
  for (const Attribute& a : code.attributes) attributeBytes += 6 + static_cast<size_t>(a.length);
  w.bytes.reserve(8 + rw.layout.end + 2 + 8 * static_cast<size_t>(code.exceptionCount) + 2 +
                  attributeBytes + attributeBytes / 4);
  uint8_t* header = w.extend(8 + static_cast<size_t>(rw.layout.end));
  header = putU2(header, maxStack);
  header = putU2(header, code.maxLocals);
  header = putU4(header, rw.layout.end);
  if (!rw.emitCode(header)) return RewriteStatus::kMalformed;
  rw.writeExceptions(w);
  w.u2(static_cast<uint32_t>(code.attributes.size()));
  for (const Attribute& a : code.attributes) {
    w.u2(a.nameIndex);
    size_t lengthAt = w.size();
    w.u4(0);
    bool ok = true;
    if (a.kind == AttributeKind::kLineNumberTable) {
      ok = rw.writeLineNumbers(a, w);
    } else if (a.kind == AttributeKind::kLocalVariableTable ||
               a.kind == AttributeKind::kLocalVariableTypeTable) {
      ok = rw.writeLocals(a, w);
    } else if (a.kind == AttributeKind::kStackMapTable) {
      ok = rw.writeStackMap(a, w);
    } else {
      w.append(cf.data + a.info, a.length);
    }
    if (!ok) return RewriteStatus::kMalformed;
    w.patchU4(lengthAt, static_cast<uint32_t>(w.size() - lengthAt - 4));
  }
  out->swap(w.bytes);
  return RewriteStatus::kOk;
}

}  // namespace classfile
