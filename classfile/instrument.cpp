#include "classfile/instrument.h"

#include <string>
#include <unordered_map>

#include "classfile/bytecode.h"
#include "classfile/bytes.h"
#include "classfile/code_rewriter.h"
#include "classfile/line_slots.h"
#include "classfile/scratch.h"
#include "classfile/touched_checks.h"

namespace classfile {
namespace {

constexpr uint32_t kMaxClassSlots = 0xFFFF;
constexpr uint32_t kMaxConstantCount = 0xFFFF;

// Constants appended after the class's own; index 0 means "no room".
struct PoolAppender {
  uint32_t next;
  ByteWriter bytes;
  std::unordered_map<uint32_t, uint16_t> integers;

  bool room(uint32_t n) const { return next + n <= kMaxConstantCount; }
  // Each constant is written through one extend, not byte by byte: the
  // byte-wise writes, inlined, made the probes' constants many kilobytes of
  // code, fetched again for every class loaded.
  uint16_t utf8(std::string_view text) {
    if (!room(1)) return 0;
    uint8_t* p = bytes.extend(3 + text.size());
    p = putU1(p, kUtf8);
    p = putU2(p, static_cast<uint32_t>(text.size()));
    putBytes(p, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return static_cast<uint16_t>(next++);
  }
  uint16_t pair(uint8_t tag, uint16_t a, uint16_t b) {
    if (!room(1) || a == 0 || b == 0) return 0;
    uint8_t* p = bytes.extend(5);
    p = putU1(p, tag);
    p = putU2(p, a);
    putU2(p, b);
    return static_cast<uint16_t>(next++);
  }
  uint16_t classRef(uint16_t name) {
    if (!room(1) || name == 0) return 0;
    putU2(putU1(bytes.extend(3), kClass), name);
    return static_cast<uint16_t>(next++);
  }
  // A Long takes two entries of the pool.
  uint16_t longConstant(uint64_t value) {
    if (!room(2)) return 0;
    uint8_t* p = putU1(bytes.extend(9), kLong);
    p = putU4(p, static_cast<uint32_t>(value >> 32));
    putU4(p, static_cast<uint32_t>(value));
    uint16_t index = static_cast<uint16_t>(next);
    next += 2;
    return index;
  }
  uint16_t integer(uint32_t value) {
    auto found = integers.find(value);
    if (found != integers.end()) return found->second;
    if (!room(1)) return 0;
    putU4(putU1(bytes.extend(5), kInteger), value);
    integers[value] = static_cast<uint16_t>(next);
    return static_cast<uint16_t>(next++);
  }
};

// Class constants for new stack map frames: the class's own where it has
// one, else appended.
struct ClassConstants {
  const ClassFile* cf;
  PoolAppender* pool;
  bool indexed = false;
  std::unordered_map<std::string, uint16_t> byName;
  std::unordered_map<uint16_t, std::string> added;

  static std::string_view name(void* context, uint16_t index) {
    ClassConstants& self = *static_cast<ClassConstants*>(context);
    auto found = self.added.find(index);
    return found != self.added.end() ? std::string_view(found->second)
                                     : classNameAt(*self.cf, index);
  }

  static uint16_t find(void* context, std::string_view name) {
    ClassConstants& self = *static_cast<ClassConstants*>(context);
    if (!self.indexed) {
      self.indexed = true;
      for (uint32_t i = 1; i < self.cf->constants.size(); i++) {
        if (constantTag(*self.cf, i) == kClass) {
          self.byName.emplace(std::string(classNameAt(*self.cf, i)), static_cast<uint16_t>(i));
        }
      }
    }
    std::string key(name);
    auto found = self.byName.find(key);
    if (found != self.byName.end()) return found->second;
    if (!self.pool->room(2)) return 0;
    uint16_t index = self.pool->classRef(self.pool->utf8(name));
    if (index != 0) self.added.emplace(index, key);
    self.byName.emplace(std::move(key), index);
    return index;
  }
};

struct ProbeRefs {
  uint16_t line = 0;
  uint16_t entryLine = 0;
  uint16_t entry = 0;
  uint16_t hit = 0;       // inline probes: a line slot's count without the touched check
  uint16_t counters = 0;  // inline probes: the Long constant of the counters' address
};

bool addProbeRefs(PoolAppender& pool, bool inlineProbes, uint64_t counters, ProbeRefs* refs) {
  if (!pool.room(inlineProbes ? 18 : 13)) return false;
  uint16_t owner = pool.classRef(pool.utf8("quorvatix/cci/Probes"));
  uint16_t withSlot = pool.utf8(inlineProbes ? "(JII)V" : "(II)V");
  uint16_t withoutSlot = pool.utf8(inlineProbes ? "(JI)V" : "(I)V");
  const char* line = inlineProbes ? "countLine" : "line";
  const char* entryLine = inlineProbes ? "countEntryLine" : "entryLine";
  const char* entry = inlineProbes ? "countEntry" : "entry";
  refs->line = pool.pair(kMethodref, owner, pool.pair(kNameAndType, pool.utf8(line), withSlot));
  refs->entryLine =
      pool.pair(kMethodref, owner, pool.pair(kNameAndType, pool.utf8(entryLine), withSlot));
  refs->entry =
      pool.pair(kMethodref, owner, pool.pair(kNameAndType, pool.utf8(entry), withoutSlot));
  if (inlineProbes) {
    refs->hit =
        pool.pair(kMethodref, owner, pool.pair(kNameAndType, pool.utf8("countHit"), withoutSlot));
    refs->counters = pool.longConstant(counters);
  }
  return refs->line != 0 && refs->entryLine != 0 && refs->entry != 0 &&
         (!inlineProbes || (refs->hit != 0 && refs->counters != 0));
}

// Pushes an int with the shortest form at *p; false when its constant has no
// room. Writes at most three bytes.
bool pushInt(PoolAppender& pool, uint32_t value, uint8_t** p) {
  uint8_t* w = *p;
  if (value <= 5) {
    w = putU1(w, kIconst0 + value);
  } else if (value <= 127) {
    w = putU2(w, (kBipush << 8) | value);
  } else if (value <= 32767) {
    w = putU2(putU1(w, kSipush), value);
  } else {
    uint16_t index = pool.integer(value);
    if (index == 0) return false;
    w = index <= 255 ? putU2(w, (kLdc << 8) | index) : putU2(putU1(w, kLdcW), index);
  }
  *p = w;
  return true;
}

// Who a probe counts for: an exact probe passes the method's ID and the slot;
// an inline one the counters' address (one constant per class), the method
// record's distance back from it and the slot's class-wide counter.
struct ProbeTarget {
  uint32_t id;
  uint32_t fromEnd;       // inline: methods.size() - the method's index
  uint32_t firstCounter;  // inline: the class-wide number of its slot 0's counter
};

// The most a probe's call takes: a constant, two ints and the invocation.
constexpr size_t kMaxProbeBytes = 3 + 3 + 3 + 3;

// A probe's call, written at *at, which it moves past it.
bool writeCall(PoolAppender& pool, const ProbeRefs& refs, uint16_t method,
               const ProbeTarget& target, const uint32_t* slot, uint8_t** at) {
  bool inlineProbe = refs.counters != 0;
  uint8_t* p = *at;
  if (inlineProbe) p = putU2(putU1(p, kLdc2W), refs.counters);
  if (method != refs.hit && !pushInt(pool, inlineProbe ? target.fromEnd : target.id, &p)) {
    return false;
  }
  if (slot != nullptr && !pushInt(pool, *slot + (inlineProbe ? target.firstCounter : 0), &p)) {
    return false;
  }
  *at = putU2(putU1(p, kInvokestatic), method);
  return true;
}

// The same, appended to w.
bool call(PoolAppender& pool, const ProbeRefs& refs, uint16_t method, const ProbeTarget& target,
          const uint32_t* slot, ByteWriter& w) {
  uint8_t probe[kMaxProbeBytes];
  uint8_t* p = probe;
  if (!writeCall(pool, refs, method, target, slot, &p)) return false;
  w.append(probe, static_cast<size_t>(p - probe));
  return true;
}

// Whether a jump, a switch or a handler leads to offset 0.
bool startIsTarget(const ClassFile& cf, const CodeAttribute& code, const Bytecode& bc) {
  for (int32_t t : bc.targets) {
    if (t == 0) return true;
  }
  for (uint32_t e = 0; e < code.exceptionCount; e++) {
    if (readU2(cf.data + code.exceptionsStart + 2 + 8 * static_cast<size_t>(e) + 4) == 0)
      return true;
  }
  return false;
}

struct MethodWork {
  const Member* member;
  const Attribute* codeAttribute;  // null: no code
  CodeAttribute code;
  Bytecode bc;
  std::vector<LineSlot> slots;
  bool ownsLines = false;
  std::vector<uint8_t> newCode;  // contents of the new Code attribute
  bool rewritten = false;
};

// The per-method work of the last class a thread instrumented and the probes
// of its current method, kept for the next (scratch.h).
struct ClassWork {
  std::vector<MethodWork> methods;
  CodeInsertions insertions;
  std::vector<bool> checks;
  std::vector<uint16_t> planned;
  std::vector<uint8_t> constants;  // the pool's additions
};

// The entry probe alone, padded to a multiple of four bytes: every offset
// moves by the same amount, so no jump grows and no switch pads differently.
bool entryOnly(const ClassFile& cf, const CodeAttribute& code, const Bytecode& bc,
               PoolAppender& pool, const ProbeRefs& refs, const ProbeTarget& target,
               MethodWork& work, MethodOutline& outline, MethodReason reason) {
  CodeInsertions ins;
  ByteWriter prefix;
  outline.lines.clear();
  outline.reason = reason;
  if (!call(pool, refs, refs.entry, target, nullptr, prefix)) {
    outline.outcome = MethodOutcome::kNotInstrumented;
    outline.reason = MethodReason::kPoolOverflow;
    return true;
  }
  while (prefix.size() % 4 != 0) prefix.u1(kNop);
  ins.prefix = std::move(prefix.bytes);
  ins.extraStack = refs.counters != 0 ? 3 : 1;
  RewriteStatus status = rewriteCode(cf, code, bc, ins, &work.newCode);
  if (status == RewriteStatus::kMalformed) return false;
  if (status == RewriteStatus::kOk) {
    work.rewritten = true;
    outline.outcome = MethodOutcome::kEntryOnly;
  } else {
    outline.outcome = MethodOutcome::kNotInstrumented;
  }
  return true;
}

}  // namespace

ClassOutcome classifyClass(const ClassFile& cf) {
  if (cf.accessFlags & kAccModule) return ClassOutcome::kSkipped;
  if (classNameAt(cf, cf.thisClass).ends_with("package-info")) return ClassOutcome::kSkipped;
  return ClassOutcome::kInstrumented;
}

ClassOutcome instrumentClass(const ClassFile& cf, uint32_t classId, const ClassOutput& output,
                             ClassOutline* outline, const InlineRecords* inlineRecords) {
  ClassOutcome kind = classifyClass(cf);
  if (kind != ClassOutcome::kInstrumented) return kind;
  // Reset field by field, not replaced: a caller that keeps one outline for
  // many classes keeps its methods' line vectors too.
  outline->name = {};
  outline->hasSourceFile = false;
  outline->sourceFile = {};
  outline->accessFlags = 0;
  outline->name = classNameAt(cf, cf.thisClass);
  outline->accessFlags = effectiveAccess(cf.accessFlags, cf.attributes);
  for (const Attribute& a : cf.attributes) {
    if (a.kind == AttributeKind::kSourceFile && a.length == 2) {
      bool ok;
      std::string_view file = utf8At(cf, readU2(cf.data + a.info), &ok);
      if (!ok) return ClassOutcome::kMalformed;
      outline->hasSourceFile = true;
      outline->sourceFile = file;
    }
  }

  // The per-method work of the last class this thread instrumented, kept so
  // that its vectors' capacity serves the next class: at start-up the hook
  // instruments thousands of classes and growing fresh vectors for each was
  // a third of its time. Every field is reset before use.
  Scratch<ClassWork> classWork;
  std::vector<MethodWork>& scratch = classWork->methods;
  if (scratch.size() < cf.methods.size()) scratch.resize(cf.methods.size());
  MethodWork* work = scratch.data();
  outline->methods.resize(cf.methods.size());
  // First every method's slots, so that inline probes know where each
  // method's counters lie before the first probe is written. Slots past the
  // class's limit go to no method: those methods count their entries only.
  uint32_t classSlots = 0;
  std::vector<uint16_t>& planned = classWork->planned;
  planned.assign(cf.methods.size(), 0);
  for (size_t i = 0; i < cf.methods.size(); i++) {
    const Member& m = cf.methods[i];
    MethodOutline& mo = outline->methods[i];
    MethodWork& mw = work[i];
    mw.member = &m;
    mw.codeAttribute = nullptr;
    mw.slots.clear();
    mw.ownsLines = false;
    mw.rewritten = false;
    bool nameOk, descriptorOk;
    mo.name = utf8At(cf, m.nameIndex, &nameOk);
    mo.descriptor = utf8At(cf, m.descriptorIndex, &descriptorOk);
    if (!nameOk || !descriptorOk) return ClassOutcome::kMalformed;
    mo.accessFlags = effectiveAccess(m.accessFlags, m.attributes);
    mo.lines.clear();
    mo.outcome = MethodOutcome::kCounted;
    mo.reason = MethodReason::kNone;
    for (const Attribute& a : m.attributes) {
      if (a.kind != AttributeKind::kCode) continue;
      if (mw.codeAttribute != nullptr) return ClassOutcome::kMalformed;
      mw.codeAttribute = &a;
    }
    if (mw.codeAttribute == nullptr) continue;
    if (!parseCodeAttribute(cf, *mw.codeAttribute, &mw.code) ||
        !decodeBytecode(cf.data + mw.code.codeStart, mw.code.codeLength, &mw.bc) ||
        !describeLineSlots(cf, mw.code, mw.bc, &mw.slots)) {
      return ClassOutcome::kMalformed;
    }
    mw.ownsLines = ownsLines(outline->accessFlags, mo.accessFlags, mo.name);
    if (!mw.ownsLines) continue;
    if (classSlots + mw.slots.size() > kMaxClassSlots) {
      mo.reason = MethodReason::kTooManySlots;
      continue;
    }
    planned[i] = static_cast<uint16_t>(mw.slots.size());
    classSlots += planned[i];
  }

  uint64_t counters =
      inlineRecords != nullptr ? inlineRecords->place(inlineRecords->context, planned) : 0;
  PoolAppender pool{cf.constantCount, {}, {}};
  // The kept buffer, lent to the pool until any return.
  struct Lent {
    std::vector<uint8_t>& to;
    std::vector<uint8_t>& from;
    ~Lent() { to.swap(from); }
  } lent{pool.bytes.bytes, classWork->constants};
  pool.bytes.bytes.swap(classWork->constants);
  pool.bytes.bytes.clear();
  ClassConstants classConstants{&cf, &pool, false, {}, {}};
  ProbeRefs refs;
  bool poolFull = !addProbeRefs(pool, inlineRecords != nullptr, counters, &refs);
  bool anyRewritten = false;
  uint32_t firstCounter = 0;

  for (size_t i = 0; i < cf.methods.size(); i++) {
    MethodOutline& mo = outline->methods[i];
    MethodWork& mw = work[i];
    ProbeTarget target = {classId + 1 + static_cast<uint32_t>(i),
                          static_cast<uint32_t>(cf.methods.size() - i), firstCounter};
    firstCounter += planned[i];
    if (mw.codeAttribute == nullptr) continue;
    if (poolFull) {
      mo.outcome = MethodOutcome::kNotInstrumented;
      mo.reason = MethodReason::kPoolOverflow;
      continue;
    }
    if (!mw.ownsLines || mo.reason == MethodReason::kTooManySlots) {
      if (!entryOnly(cf, mw.code, mw.bc, pool, refs, target, mw, mo, mo.reason)) {
        return ClassOutcome::kMalformed;
      }
      // Not a fallback: this method never had slots.
      if (!mw.ownsLines && mo.outcome == MethodOutcome::kEntryOnly) {
        mo.outcome = MethodOutcome::kCounted;
      }
      anyRewritten |= mw.rewritten;
      continue;
    }

    const std::vector<LineSlot>& slots = mw.slots;
    // Kept, for the same reason as the work above.
    CodeInsertions& ins = classWork->insertions;
    ins.prefix.clear();
    ins.at.clear();
    ins.extraStack = refs.counters != 0 ? 4 : 2;
    ins.method = mw.member;
    ins.classes = {&ClassConstants::find, &classConstants, &ClassConstants::name};
    bool entryDone = false;
    bool jumpToStart = startIsTarget(cf, mw.code, mw.bc);
    std::vector<bool>& checks = classWork->checks;
    // A method's first slot always checks: one slot needs no walk.
    bool anyUnchecked = refs.counters != 0 && slots.size() > 1;
    if (anyUnchecked) slotsThatCheck(cf, mw.code, mw.bc, slots, &checks);
    bool fits = true;
    // Every probe goes into one buffer with room for the longest probes,
    // kept from method to method: the insertions' ends say what each took,
    // and the bytes past the last end are left over from earlier methods.
    if (ins.code.size() < slots.size() * kMaxProbeBytes) {
      ins.code.resize(slots.size() * kMaxProbeBytes);
    }
    uint8_t* const probes = ins.code.data();
    uint8_t* w = probes;
    for (size_t s = 0; s < slots.size() && fits; s++) {
      uint32_t slot = static_cast<uint32_t>(s);
      uint16_t method = anyUnchecked && !checks[s] ? refs.hit : refs.line;
      if (!entryDone && slots[s].offset == 0 && !jumpToStart) {
        method = refs.entryLine;
        entryDone = true;
      }
      fits = writeCall(pool, refs, method, target, &slot, &w);
      ins.close(slots[s].offset, static_cast<uint32_t>(w - probes));
    }
    if (fits && !entryDone) {
      ByteWriter w;
      w.bytes.swap(ins.prefix);
      fits = call(pool, refs, refs.entry, target, nullptr, w);
      w.bytes.swap(ins.prefix);
    }
    RewriteStatus status =
        fits ? rewriteCode(cf, mw.code, mw.bc, ins, &mw.newCode) : RewriteStatus::kTooLarge;
    if (status == RewriteStatus::kMalformed) return ClassOutcome::kMalformed;
    if (status == RewriteStatus::kOk) {
      mw.rewritten = true;
      anyRewritten = true;
      mo.lines.reserve(slots.size());
      for (const LineSlot& s : slots) mo.lines.push_back(s.line);
      continue;
    }
    MethodReason reason = !fits                                  ? MethodReason::kPoolOverflow
                          : status == RewriteStatus::kNeedsFrame ? MethodReason::kNeedsFrame
                                                                 : MethodReason::kTooLarge;
    if (!entryOnly(cf, mw.code, mw.bc, pool, refs, target, mw, mo, reason)) {
      return ClassOutcome::kMalformed;
    }
    anyRewritten |= mw.rewritten;
  }
  if (!anyRewritten) return ClassOutcome::kUnchanged;

  // Sized exactly first, then written once into the caller's memory: the
  // class hook hands the JVM memory of its own, and a copy into it from a
  // buffer of ours cost as much as some of the rewriting.
  size_t size = 10 + (cf.constantsEnd - 10) + pool.bytes.size() +
                (cf.methodsStart - cf.constantsEnd) + 2 + (cf.size - cf.attributesStart);
  for (size_t i = 0; i < cf.methods.size(); i++) {
    const MethodWork& mw = work[i];
    const Member& m = *mw.member;
    if (!mw.rewritten) {
      size += m.end - m.start;
      continue;
    }
    size += 8;
    for (const Attribute& a : m.attributes) {
      size += &a == mw.codeAttribute ? 6 + mw.newCode.size() : a.info + a.length - a.start;
    }
  }
  uint8_t* const start = output.allocate(output.context, size);
  if (start == nullptr) return ClassOutcome::kUnchanged;
  uint8_t* w = putBytes(start, cf.data, 8);
  w = putU2(w, pool.next);
  w = putBytes(w, cf.data + 10, cf.constantsEnd - 10);
  w = putBytes(w, pool.bytes.bytes.data(), pool.bytes.size());
  w = putBytes(w, cf.data + cf.constantsEnd, cf.methodsStart - cf.constantsEnd);
  w = putU2(w, static_cast<uint32_t>(cf.methods.size()));
  for (size_t i = 0; i < cf.methods.size(); i++) {
    const MethodWork& mw = work[i];
    const Member& m = *mw.member;
    if (!mw.rewritten) {
      w = putBytes(w, cf.data + m.start, m.end - m.start);
      continue;
    }
    w = putBytes(w, cf.data + m.start, 6);
    w = putU2(w, static_cast<uint32_t>(m.attributes.size()));
    for (const Attribute& a : m.attributes) {
      if (&a == mw.codeAttribute) {
        w = putU2(w, a.nameIndex);
        w = putU4(w, static_cast<uint32_t>(mw.newCode.size()));
        w = putBytes(w, mw.newCode.data(), mw.newCode.size());
      } else {
        w = putBytes(w, cf.data + a.start, a.info + a.length - a.start);
      }
    }
  }
  putBytes(w, cf.data + cf.attributesStart, cf.size - cf.attributesStart);
  return ClassOutcome::kInstrumented;
}

ClassOutcome instrumentClass(const ClassFile& cf, uint32_t classId, std::vector<uint8_t>* bytes,
                             ClassOutline* outline, const InlineRecords* inlineRecords) {
  auto intoVector = [](void* context, size_t size) {
    std::vector<uint8_t>* out = static_cast<std::vector<uint8_t>*>(context);
    out->resize(size);
    return out->data();
  };
  return instrumentClass(cf, classId, ClassOutput{intoVector, bytes}, outline, inlineRecords);
}

const char* describeReason(MethodReason reason) {
  switch (reason) {
    case MethodReason::kNone:
      return "is instrumented";
    case MethodReason::kTooLarge:
      return "is too large to instrument";
    case MethodReason::kTooManySlots:
      return "has more line slots than a class can hold";
    case MethodReason::kNeedsFrame:
      return "has a jump too long to instrument";
    case MethodReason::kPoolOverflow:
      return "has no room left in its class's constant pool";
  }
  return "";
}

}  // namespace classfile
