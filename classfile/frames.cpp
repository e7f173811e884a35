#include "classfile/frames.h"

#include <string>

#include "classfile/bytes.h"

namespace classfile {
namespace {

bool isWide(const VType& t) { return t.tag == kLongType || t.tag == kDoubleType; }

// The descriptor of the NameAndType of a member reference (or dynamic
// constant) at `index`; empty when it isn't one.
std::string_view referencedDescriptor(const ClassFile& cf, uint32_t index) {
  uint8_t tag = constantTag(cf, index);
  if (tag != kFieldref && tag != kMethodref && tag != kInterfaceMethodref && tag != kDynamic &&
      tag != kInvokeDynamic) {
    return {};
  }
  uint32_t nat = readU2(cf.data + cf.constants[index] + 3);
  if (constantTag(cf, nat) != kNameAndType) return {};
  return utf8At(cf, readU2(cf.data + cf.constants[nat] + 3));
}

std::string_view referencedName(const ClassFile& cf, uint32_t index) {
  uint32_t nat = readU2(cf.data + cf.constants[index] + 3);
  if (constantTag(cf, nat) != kNameAndType) return {};
  return utf8At(cf, readU2(cf.data + cf.constants[nat] + 1));
}

// One field type from a descriptor at `at`; false at the end or on nonsense.
// A void return gives kTop with *isVoid set.
bool parseType(std::string_view d, size_t* at, const ClassIndexer& classes, VType* out,
               bool* isVoid = nullptr) {
  if (*at >= d.size()) return false;
  size_t start = *at;
  char c = d[(*at)++];
  switch (c) {
    case 'B':
    case 'C':
    case 'I':
    case 'S':
    case 'Z':
      *out = {kIntegerType, 0};
      return true;
    case 'F':
      *out = {kFloatType, 0};
      return true;
    case 'J':
      *out = {kLongType, 0};
      return true;
    case 'D':
      *out = {kDoubleType, 0};
      return true;
    case 'V':
      if (isVoid == nullptr) return false;
      *isVoid = true;
      *out = {kTop, 0};
      return true;
    case 'L': {
      size_t end = d.find(';', *at);
      if (end == std::string_view::npos || end == *at) return false;
      uint16_t index = classes.classIndex(classes.context, d.substr(*at, end - *at));
      *at = end + 1;
      *out = {kObjectType, index};
      return index != 0;
    }
    case '[': {
      // The element type only needs skipping: the array is named whole.
      while (*at < d.size() && d[*at] == '[') (*at)++;
      if (*at >= d.size()) return false;
      if (d[*at] == 'L') {
        size_t end = d.find(';', *at);
        if (end == std::string_view::npos || end == *at + 1) return false;
        *at = end + 1;
      } else if (std::string_view("BCDFIJSZ").find(d[*at]) != std::string_view::npos) {
        (*at)++;
      } else {
        return false;
      }
      uint16_t index = classes.classIndex(classes.context, d.substr(start, *at - start));
      *out = {kObjectType, index};
      return index != 0;
    }
    default:
      return false;
  }
}

// A method descriptor's parameters (appended) and return type.
bool parseMethodDescriptor(std::string_view d, const ClassIndexer& classes,
                           std::vector<VType>* params, VType* result, bool* isVoid) {
  if (d.empty() || d[0] != '(') return false;
  size_t at = 1;
  while (at < d.size() && d[at] != ')') {
    VType t;
    if (!parseType(d, &at, classes, &t)) return false;
    params->push_back(t);
  }
  if (at >= d.size()) return false;
  at++;
  *isVoid = false;
  return parseType(d, &at, classes, result, isVoid) && at == d.size();
}

// The verifier's view of one method's state, locals one slot each.
struct Machine {
  const ClassFile& cf;
  const Bytecode& bc;
  const ClassIndexer& classes;
  std::vector<VType> locals;
  std::vector<VType> stack;
  bool failed = false;

  uint32_t words() const {
    uint32_t n = 0;
    for (const VType& t : stack) n += isWide(t) ? 2 : 1;
    return n;
  }
  VType pop() {
    if (stack.empty()) {
      failed = true;
      return {kTop, 0};
    }
    VType t = stack.back();
    stack.pop_back();
    return t;
  }
  void pop(uint32_t n) {
    for (uint32_t i = 0; i < n; i++) pop();
  }
  void push(VType t) { stack.push_back(t); }
  VType local(uint32_t index) {
    if (index >= locals.size()) {
      failed = true;
      return {kTop, 0};
    }
    return locals[index];
  }
  void store(uint32_t index, VType t) {
    uint32_t need = index + (isWide(t) ? 2 : 1);
    if (need > locals.size()) locals.resize(need, {kTop, 0});
    // Overwriting half of a long or double leaves the other half unusable.
    if (index > 0 && isWide(locals[index - 1])) locals[index - 1] = {kTop, 0};
    if (isWide(locals[index]) && !isWide(t)) locals[index + 1] = {kTop, 0};
    locals[index] = t;
    if (isWide(t)) locals[index + 1] = {kTop, 0};
  }
  // Copies the values that make the top `group` words and puts the copy
  // below the `under` words beneath them (the dup family).
  void dup(uint32_t group, uint32_t under) {
    std::vector<VType> top, below;
    uint32_t n = 0;
    while (n < group && !stack.empty()) {
      n += isWide(stack.back()) ? 2 : 1;
      top.insert(top.begin(), pop());
    }
    uint32_t m = 0;
    while (m < under && !stack.empty()) {
      m += isWide(stack.back()) ? 2 : 1;
      below.insert(below.begin(), pop());
    }
    if (n != group || m != under) {
      failed = true;
      return;
    }
    stack.insert(stack.end(), top.begin(), top.end());
    stack.insert(stack.end(), below.begin(), below.end());
    stack.insert(stack.end(), top.begin(), top.end());
  }
  void popWords(uint32_t n) {
    uint32_t m = 0;
    while (m < n && !stack.empty()) m += isWide(pop()) ? 2 : 1;
    if (m != n) failed = true;
  }
  VType classType(std::string_view name) {
    uint16_t index = classes.classIndex(classes.context, name);
    if (index == 0) failed = true;
    return {kObjectType, index};
  }
  void pushDescriptor(std::string_view d) {
    size_t at = 0;
    VType t;
    if (!parseType(d, &at, classes, &t) || at != d.size()) {
      failed = true;
      return;
    }
    push(t);
  }
  void invoke(uint32_t index, bool hasReceiver);
  void construct(uint32_t index);
  void arrayElement();
  void ldc(uint32_t index);
  bool step(const uint8_t* p, uint32_t offset);
};

void Machine::invoke(uint32_t index, bool hasReceiver) {
  std::vector<VType> params;
  VType result;
  bool isVoid = false;
  if (!parseMethodDescriptor(referencedDescriptor(cf, index), classes, &params, &result, &isVoid)) {
    failed = true;
    return;
  }
  pop(static_cast<uint32_t>(params.size()) + (hasReceiver ? 1 : 0));
  if (!isVoid) push(result);
}

// Constructing an object turns every copy of its uninitialized type into the
// class: the current class for uninitializedThis, else the class its `new` names.
void Machine::construct(uint32_t index) {
  std::vector<VType> params;
  VType result;
  bool isVoid;
  if (!parseMethodDescriptor(referencedDescriptor(cf, index), classes, &params, &result, &isVoid) ||
      stack.size() < params.size() + 1) {
    failed = true;
    return;
  }
  VType receiver = stack[stack.size() - params.size() - 1];
  pop(static_cast<uint32_t>(params.size()) + 1);
  VType now{kObjectType, cf.thisClass};
  if (receiver.tag == kUninitializedType) {
    if (!bc.isBoundary(receiver.data) || receiver.data >= bc.length ||
        bc.code[receiver.data] != kNew) {
      failed = true;
      return;
    }
    now.data = static_cast<uint16_t>(readU2(bc.code + receiver.data + 1));
  } else if (receiver.tag != kUninitializedThis) {
    return;
  }
  for (VType& t : locals) {
    if (t == receiver) t = now;
  }
  for (VType& t : stack) {
    if (t == receiver) t = now;
  }
}

// aaload: the element type of the array popped.
void Machine::arrayElement() {
  pop();
  VType array = pop();
  if (array.tag == kNullType) {
    push(array);
    return;
  }
  std::string_view name = array.tag == kObjectType ? classes.className(classes.context, array.data)
                                                   : std::string_view();
  if (name.size() < 2 || name[0] != '[') {
    failed = true;
    return;
  }
  std::string_view element = name.substr(1);
  if (element[0] == 'L' && element.back() == ';') {
    push(classType(element.substr(1, element.size() - 2)));
  } else if (element[0] == '[') {
    push(classType(element));
  } else {
    failed = true;
  }
}

void Machine::ldc(uint32_t index) {
  switch (constantTag(cf, index)) {
    case kInteger:
      push({kIntegerType, 0});
      return;
    case kFloat:
      push({kFloatType, 0});
      return;
    case kLong:
      push({kLongType, 0});
      return;
    case kDouble:
      push({kDoubleType, 0});
      return;
    case kString:
      push(classType("java/lang/String"));
      return;
    case kClass:
      push(classType("java/lang/Class"));
      return;
    case kMethodType:
      push(classType("java/lang/invoke/MethodType"));
      return;
    case kMethodHandle:
      push(classType("java/lang/invoke/MethodHandle"));
      return;
    case kDynamic:
      pushDescriptor(referencedDescriptor(cf, index));
      return;
    default:
      failed = true;
      return;
  }
}

}  // namespace

bool initialFrame(const ClassFile& cf, const Member& method, const ClassIndexer& classes,
                  FrameState* out) {
  out->offset = 0;
  out->locals.clear();
  out->stack.clear();
  if ((method.accessFlags & 0x0008) == 0) {
    bool init = memberName(cf, method) == "<init>";
    out->locals.push_back(init ? VType{kUninitializedThis, 0} : VType{kObjectType, cf.thisClass});
  }
  VType result;
  bool isVoid;
  return parseMethodDescriptor(memberDescriptor(cf, method), classes, &out->locals, &result,
                               &isVoid);
}

bool decodeStackMap(const uint8_t* contents, uint32_t length, const FrameState& initial,
                    std::vector<FrameState>* out) {
  ByteReader r(contents, length);
  uint32_t count = r.u2();
  FrameState current = initial;
  int64_t offset = -1;
  auto readTypes = [&](uint32_t n, std::vector<VType>* into) {
    for (uint32_t k = 0; k < n && !r.failed; k++) {
      VType t{static_cast<uint8_t>(r.u1()), 0};
      if (t.tag == kObjectType || t.tag == kUninitializedType)
        t.data = static_cast<uint16_t>(r.u2());
      if (t.tag > 8) r.failed = true;
      into->push_back(t);
    }
  };
  for (uint32_t f = 0; f < count && !r.failed; f++) {
    uint32_t type = r.u1();
    uint32_t delta;
    current.stack.clear();
    if (type < 64) {
      delta = type;
    } else if (type < 128) {
      delta = type - 64;
      readTypes(1, &current.stack);
    } else if (type < 247) {
      return false;
    } else {
      delta = r.u2();
      if (type == 247) {
        readTypes(1, &current.stack);
      } else if (type < 251) {
        uint32_t chop = 251 - type;
        if (chop > current.locals.size()) return false;
        current.locals.resize(current.locals.size() - chop);
      } else if (type < 255 && type > 251) {
        readTypes(type - 251, &current.locals);
      } else if (type == 255) {
        current.locals.clear();
        readTypes(r.u2(), &current.locals);
        readTypes(r.u2(), &current.stack);
      }
    }
    offset = offset < 0 ? delta : offset + delta + 1;
    current.offset = static_cast<uint32_t>(offset);
    out->push_back(current);
  }
  return !r.failed && r.offset == length;
}

bool stateAfterConditional(const ClassFile& cf, const Bytecode& bc, const FrameState& from,
                           uint32_t branch, const ClassIndexer& classes, FrameState* out) {
  Machine m{cf, bc, classes, {}, {}, false};
  for (const VType& t : from.locals) {
    m.locals.push_back(t);
    if (isWide(t)) m.locals.push_back({kTop, 0});
  }
  m.stack = from.stack;
  if (!bc.isBoundary(from.offset) || !bc.isBoundary(branch) || from.offset > branch) return false;
  for (int32_t i = bc.indexAt[from.offset]; i <= bc.indexAt[branch] && !m.failed; i++) {
    const Instruction& insn = bc.instructions[static_cast<size_t>(i)];
    if (!m.step(bc.code + insn.offset, insn.offset)) return false;
  }
  if (m.failed) return false;
  out->offset = bc.instructions[static_cast<size_t>(bc.indexAt[branch])].offset;
  out->stack = m.stack;
  out->locals.clear();
  for (size_t k = 0; k < m.locals.size(); k++) {
    out->locals.push_back(m.locals[k]);
    if (isWide(m.locals[k])) k++;
  }
  while (!out->locals.empty() && out->locals.back().tag == kTop) out->locals.pop_back();
  return true;
}

namespace {
const char* const kNewArrayTypes[] = {"[Z", "[C", "[F", "[D", "[B", "[S", "[I", "[J"};
}  // namespace

bool Machine::step(const uint8_t* p, uint32_t offset) {
  const VType kInt{kIntegerType, 0}, kFloat{kFloatType, 0}, kLong{kLongType, 0},
      kDouble{kDoubleType, 0};
  const VType byKind[4] = {kInt, kLong, kFloat, kDouble};
  uint8_t op = p[0];
  // nop, iinc, goto, goto_w, return, athrow: no change to the types.
  if (op == kNop || op == 0x84 || op == kGoto || op == kGotoW || op == 0xb1 || op == 0xbf) {
    return true;
  }
  if (op == 0x01)
    push({kNullType, 0});
  else if ((op >= 0x02 && op <= 0x08) || op == kBipush || op == kSipush)
    push(kInt);
  else if (op <= 0x0a && op >= 0x09)
    push(kLong);
  else if (op >= 0x0b && op <= 0x0d)
    push(kFloat);
  else if (op == 0x0e || op == 0x0f)
    push(kDouble);
  else if (op == kLdc)
    ldc(p[1]);
  else if (op == kLdcW || op == 0x14)
    ldc(readU2(p + 1));
  else if (op >= 0x15 && op <= 0x18)
    push(byKind[op - 0x15]);
  else if (op == 0x19)
    push(local(p[1]));
  else if (op >= 0x1a && op <= 0x29)
    push(byKind[(op - 0x1a) / 4]);
  else if (op >= 0x2a && op <= 0x2d)
    push(local(op - 0x2a));
  else if (op >= 0x2e && op <= 0x35) {
    if (op == 0x32) {
      arrayElement();
    } else {
      pop(2);
      push(op == 0x2f ? kLong : op == 0x30 ? kFloat : op == 0x31 ? kDouble : kInt);
    }
  } else if (op >= 0x36 && op <= 0x3a) {
    VType t = pop();
    store(p[1], t);
  } else if (op >= 0x3b && op <= 0x4e) {
    VType t = pop();
    store((op - 0x3b) % 4, t);
  } else if (op >= 0x4f && op <= 0x56) {
    pop(3);
  } else if (op == 0x57) {
    popWords(1);
  } else if (op == 0x58) {
    popWords(2);
  } else if (op == 0x59) {
    dup(1, 0);
  } else if (op == 0x5a) {
    dup(1, 1);
  } else if (op == 0x5b) {
    dup(1, 2);
  } else if (op == 0x5c) {
    dup(2, 0);
  } else if (op == 0x5d) {
    dup(2, 1);
  } else if (op == 0x5e) {
    dup(2, 2);
  } else if (op == 0x5f) {
    VType a = pop(), b = pop();
    push(a);
    push(b);
  } else if (op >= 0x60 && op <= 0x73) {
    pop(2);
    push(byKind[(op - 0x60) % 4]);
  } else if (op >= 0x74 && op <= 0x77) {
    pop(1);
    push(byKind[(op - 0x74) % 4]);
  } else if (op >= 0x78 && op <= 0x83) {
    pop(2);
    push((op - 0x78) % 2 == 0 ? kInt : kLong);
  } else if (op >= 0x85 && op <= 0x93) {
    static const uint8_t results[] = {4, 2, 3, 1, 2, 3, 1, 4, 3, 1, 4, 2, 1, 1, 1};
    pop(1);
    push({results[op - 0x85], 0});
  } else if (op >= 0x94 && op <= 0x98) {
    pop(2);
    push(kInt);
  } else if ((op >= 0x99 && op <= 0x9e) || op == kIfnull || op == kIfnonnull ||
             op == kTableswitch || op == kLookupswitch || op == 0xc2 || op == 0xc3 ||
             (op >= 0xac && op <= 0xb0)) {
    pop(1);
  } else if (op >= 0x9f && op <= 0xa6) {
    pop(2);
  } else if (op == 0xb2 || op == 0xb4) {
    if (op == 0xb4) pop(1);
    pushDescriptor(referencedDescriptor(cf, readU2(p + 1)));
  } else if (op == 0xb3 || op == 0xb5) {
    pop(op == 0xb5 ? 2 : 1);
  } else if (op >= 0xb6 && op <= 0xb9) {
    uint32_t index = readU2(p + 1);
    if (op == 0xb7 && referencedName(cf, index) == "<init>") {
      construct(index);
    } else {
      invoke(index, op != 0xb8);
    }
  } else if (op == 0xba) {
    invoke(readU2(p + 1), false);
  } else if (op == kNew) {
    push({kUninitializedType, static_cast<uint16_t>(offset)});
  } else if (op == 0xbc) {
    pop(1);
    if (p[1] < 4 || p[1] > 11) return false;
    push(classType(kNewArrayTypes[p[1] - 4]));
  } else if (op == 0xbd) {
    pop(1);
    std::string_view element = classNameAt(cf, readU2(p + 1));
    if (element.empty()) return false;
    std::string name =
        element[0] == '[' ? "[" + std::string(element) : "[L" + std::string(element) + ";";
    push(classType(name));
  } else if (op == 0xbe || op == 0xc1) {  // arraylength, instanceof
    pop(1);
    push(kInt);
  } else if (op == 0xc0) {
    pop(1);
    push({kObjectType, static_cast<uint16_t>(readU2(p + 1))});
  } else if (op == kWide) {
    uint8_t inner = p[1];
    uint32_t index = readU2(p + 2);
    if (inner == 0x84) return !failed;
    if (inner >= 0x15 && inner <= 0x18)
      push(byKind[inner - 0x15]);
    else if (inner == 0x19)
      push(local(index));
    else if (inner >= 0x36 && inner <= 0x3a)
      store(index, pop());
    else
      return false;
  } else if (op == 0xc5) {
    pop(p[3]);
    push({kObjectType, static_cast<uint16_t>(readU2(p + 1))});
  } else {
    return false;  // jsr, ret and anything unknown
  }
  return !failed;
}

}  // namespace classfile
