#include "tools/snp/compiler_code.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <string>
#include <vector>

#include "classfile/bytes.h"

namespace {

using classfile::ClassFile;
using classfile::Member;
using classfile::readU2;
using classfile::readU4;

constexpr uint8_t kAload0 = 0x2a;
constexpr uint8_t kAload1 = 0x2b;
constexpr uint8_t kIreturn = 0xac;
constexpr uint8_t kAreturn = 0xb0;
constexpr uint8_t kInvokedynamic = 0xba;

// The two u2 operands of a constant whose body is two indexes (Methodref,
// NameAndType, InvokeDynamic), or false when `index` is no constant of `tag`.
bool indexPair(const ClassFile& cf, uint32_t index, uint8_t tag, uint32_t* first,
               uint32_t* second) {
  if (classfile::constantTag(cf, index) != tag) return false;
  const uint8_t* body = cf.data + cf.constants[index] + 1;
  *first = readU2(body);
  *second = readU2(body + 2);
  return true;
}

// The name of a NameAndType constant.
std::string_view nameOf(const ClassFile& cf, uint32_t nameAndType) {
  uint32_t name = 0, type = 0;
  if (!indexPair(cf, nameAndType, classfile::kNameAndType, &name, &type)) return {};
  return classfile::utf8At(cf, name);
}

// Whether bootstrap method `index` of the class is ObjectMethods.bootstrap,
// the factory javac names for a record's equals, hashCode and toString.
bool isObjectMethodsBootstrap(const ClassFile& cf, uint32_t index) {
  for (const classfile::Attribute& a : cf.attributes) {
    if (!classfile::attributeIs(cf, a, "BootstrapMethods")) continue;
    classfile::ByteReader r(cf.data + a.info, a.length);
    uint32_t count = r.u2();
    for (uint32_t i = 0; i < count && !r.failed; i++) {
      uint32_t handle = r.u2();
      uint32_t arguments = r.u2();
      if (i == index) {
        if (r.failed || classfile::constantTag(cf, handle) != classfile::kMethodHandle) {
          return false;
        }
        uint32_t method = readU2(cf.data + cf.constants[handle] + 2);
        uint32_t owner = 0, nameAndType = 0;
        if (!indexPair(cf, method, classfile::kMethodref, &owner, &nameAndType)) return false;
        return classfile::classNameAt(cf, owner) == "java/lang/runtime/ObjectMethods" &&
               nameOf(cf, nameAndType) == "bootstrap";
      }
      r.skip(2 * static_cast<size_t>(arguments));
    }
    return false;
  }
  return false;
}

// The method's bytecode, or false when it has no Code attribute that holds it.
bool codeOf(const ClassFile& cf, const Member& m, const uint8_t** code, uint32_t* length) {
  for (const classfile::Attribute& a : m.attributes) {
    if (!classfile::attributeIs(cf, a, "Code")) continue;
    if (a.length < 8) return false;
    uint32_t n = readU4(cf.data + a.info + 4);
    if (n > a.length - 8) return false;
    *code = cf.data + a.info + 8;
    *length = n;
    return true;
  }
  return false;
}

// private Color(String name, int ordinal) { super(name, ordinal); }
bool isEnumConstructor(const ClassFile& cf, const Member& m) {
  constexpr uint8_t kIload2 = 0x1c, kInvokespecial = 0xb7, kReturn = 0xb1;
  if ((m.accessFlags & 0x0002) == 0 || classfile::memberName(cf, m) != "<init>" ||
      classfile::memberDescriptor(cf, m) != "(Ljava/lang/String;I)V") {
    return false;
  }
  const uint8_t* code = nullptr;
  uint32_t length = 0;
  if (!codeOf(cf, m, &code, &length) || length != 7 || code[0] != kAload0 || code[1] != kAload1 ||
      code[2] != kIload2 || code[3] != kInvokespecial || code[6] != kReturn) {
    return false;
  }
  uint32_t owner = 0, nameAndType = 0, name = 0, type = 0;
  return indexPair(cf, readU2(code + 4), classfile::kMethodref, &owner, &nameAndType) &&
         classfile::classNameAt(cf, owner) == "java/lang/Enum" &&
         indexPair(cf, nameAndType, classfile::kNameAndType, &name, &type) &&
         classfile::utf8At(cf, name) == "<init>" &&
         classfile::utf8At(cf, type) == "(Ljava/lang/String;I)V";
}

std::string_view nextLine(std::string_view* text) {
  size_t end = text->find('\n');
  std::string_view line = text->substr(0, end);
  *text = end == std::string_view::npos ? std::string_view() : text->substr(end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Reads the digits at the front of *s; false when there are none.
bool number(std::string_view* s, int64_t* out) {
  const char* end = s->data() + s->size();
  auto [next, error] = std::from_chars(s->data(), end, *out);
  if (error != std::errc() || *out < 0) return false;
  s->remove_prefix(static_cast<size_t>(next - s->data()));
  return true;
}

bool skipChar(std::string_view* s, char c) {
  if (s->empty() || s->front() != c) return false;
  s->remove_prefix(1);
  return true;
}

}  // namespace

const char* compilerMadeMethod(const ClassFile& cf, const Member& method) {
  std::string_view super = classfile::classNameAt(cf, cf.superClass);
  if (super == "java/lang/Record" && isGeneratedRecordMethod(cf, method)) {
    return "record method made by javac";
  }
  if (super == "java/lang/Enum" && isEnumConstructor(cf, method)) {
    return "enum constructor made by javac";
  }
  return nullptr;
}

bool isGeneratedRecordMethod(const ClassFile& cf, const Member& method) {
  std::string_view name = classfile::memberName(cf, method);
  std::string_view descriptor = classfile::memberDescriptor(cf, method);
  // aload_0 [aload_1] invokedynamic <name> ObjectMethods.bootstrap, return.
  std::vector<uint8_t> before;
  uint8_t ret = 0;
  if (name == "equals" && descriptor == "(Ljava/lang/Object;)Z") {
    before = {kAload0, kAload1};
    ret = kIreturn;
  } else if (name == "hashCode" && descriptor == "()I") {
    before = {kAload0};
    ret = kIreturn;
  } else if (name == "toString" && descriptor == "()Ljava/lang/String;") {
    before = {kAload0};
    ret = kAreturn;
  } else {
    return false;
  }
  const uint8_t* code = nullptr;
  uint32_t length = 0;
  if (!codeOf(cf, method, &code, &length) || length != before.size() + 6) return false;
  if (!std::equal(before.begin(), before.end(), code)) return false;
  const uint8_t* call = code + before.size();
  if (call[0] != kInvokedynamic || call[3] != 0 || call[4] != 0 || call[5] != ret) return false;
  uint32_t bootstrap = 0, nameAndType = 0;
  return indexPair(cf, readU2(call + 1), classfile::kInvokeDynamic, &bootstrap, &nameAndType) &&
         nameOf(cf, nameAndType) == name && isObjectMethodsBootstrap(cf, bootstrap);
}

std::string_view sourceDebugExtension(const ClassFile& cf) {
  for (const classfile::Attribute& a : cf.attributes) {
    if (classfile::attributeIs(cf, a, "SourceDebugExtension")) {
      return std::string_view(reinterpret_cast<const char*>(cf.data + a.info), a.length);
    }
  }
  return {};
}

int32_t kotlinFirstInlinedLine(std::string_view className, std::string_view sourceFile,
                               std::string_view smap) {
  // Header: SMAP, the output file, the default stratum, then the Kotlin
  // stratum's file section. Anything else is another language's map.
  if (nextLine(&smap) != "SMAP" || nextLine(&smap) != sourceFile || nextLine(&smap) != "Kotlin" ||
      nextLine(&smap) != "*S Kotlin" || nextLine(&smap) != "*F") {
    return 0;
  }
  // "+ ID NAME" then the file's path: the class an inlined function came from.
  std::map<int64_t, std::string_view> paths;
  for (;;) {
    std::string_view line = nextLine(&smap);
    if (line == "*L") break;
    int64_t id = 0;
    if (!skipChar(&line, '+') || !skipChar(&line, ' ') || !number(&line, &id) ||
        !skipChar(&line, ' ') || smap.empty()) {
      return 0;
    }
    paths[id] = nextLine(&smap);
  }
  // InputStartLine[#FileID][,RepeatCount]:OutputStartLine[,Increment]; a line
  // without a FileID keeps the previous one.
  int64_t first = INT32_MAX;
  int64_t file = paths.empty() ? 0 : paths.begin()->first;
  for (;;) {
    if (smap.empty()) return 0;  // no end: not a map kotlinc wrote
    std::string_view line = nextLine(&smap);
    if (line == "*E" || line.rfind("*S ", 0) == 0) break;
    int64_t input = 0, output = 0, ignored = 0;
    if (!number(&line, &input)) return 0;
    if (skipChar(&line, '#') && !number(&line, &file)) return 0;
    if (skipChar(&line, ',') && !number(&line, &ignored)) return 0;
    if (!skipChar(&line, ':') || !number(&line, &output)) return 0;
    if (skipChar(&line, ',') && !number(&line, &ignored)) return 0;
    if (!line.empty()) return 0;
    auto path = paths.find(file);
    if (path == paths.end()) return 0;
    if (path->second == className && input == output) continue;  // the file's own lines
    first = std::min(first, output);
  }
  return first == INT32_MAX || first == 0 ? 0 : static_cast<int32_t>(first);
}
