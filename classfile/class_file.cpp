#include "classfile/class_file.h"

#include "classfile/bytes.h"

namespace classfile {
namespace {

// Bytes after the tag of each fixed-size constant; -1 for unknown tags.
int constantBodySize(uint32_t tag) {
  switch (tag) {
    case kInteger:
    case kFloat:
    case kFieldref:
    case kMethodref:
    case kInterfaceMethodref:
    case kNameAndType:
    case kDynamic:
    case kInvokeDynamic:
      return 4;
    case kLong:
    case kDouble:
      return 8;
    case kClass:
    case kString:
    case kMethodType:
    case kModule:
    case kPackage:
      return 2;
    case kMethodHandle:
      return 3;
    default:
      return -1;
  }
}

AttributeKind kindOf(const ClassFile& cf, uint32_t nameIndex) {
  std::string_view name = utf8At(cf, nameIndex);
  auto is = [&](std::string_view known, AttributeKind kind) {
    return name == known ? kind : AttributeKind::kOther;
  };
  switch (name.size()) {
    case 4:
      return is("Code", AttributeKind::kCode);
    case 9:
      return is("Synthetic", AttributeKind::kSynthetic);
    case 10:
      return is("SourceFile", AttributeKind::kSourceFile);
    case 13:
      return is("StackMapTable", AttributeKind::kStackMapTable);
    case 15:
      return is("LineNumberTable", AttributeKind::kLineNumberTable);
    case 18:
      return is("LocalVariableTable", AttributeKind::kLocalVariableTable);
    case 22:
      return is("LocalVariableTypeTable", AttributeKind::kLocalVariableTypeTable);
    default:
      return AttributeKind::kOther;
  }
}

// The members' attributes go into one pool: their spans are set once every
// member is read (attribute_count lies 6 bytes into each member).
bool readMembers(const ClassFile& cf, ByteReader& r, std::vector<Member>* out,
                 std::vector<Attribute>* pool) {
  uint32_t count = r.u2();
  if (r.failed) return false;
  out->resize(count);
  for (uint32_t i = 0; i < count; i++) {
    Member& m = (*out)[i];
    m.attributes = {};
    m.start = static_cast<uint32_t>(r.offset);
    m.accessFlags = static_cast<uint16_t>(r.u2());
    m.nameIndex = static_cast<uint16_t>(r.u2());
    m.descriptorIndex = static_cast<uint16_t>(r.u2());
    if (r.failed || !readAttributes(cf, r.size, &r.offset, pool)) return false;
    m.end = static_cast<uint32_t>(r.offset);
  }
  return true;
}

void pointIntoPool(const ClassFile& cf, const Attribute*& next, std::vector<Member>& members) {
  for (Member& m : members) {
    size_t count = readU2(cf.data + m.start + 6);
    m.attributes = {next, count};
    next += count;
  }
}

}  // namespace

bool readAttributes(const ClassFile& cf, size_t limit, size_t* at, std::vector<Attribute>* out) {
  size_t offset = *at;
  if (offset > limit || limit - offset < 2) return false;
  uint32_t count = readU2(cf.data + offset);
  offset += 2;
  for (uint32_t i = 0; i < count; i++) {
    if (limit - offset < 6) return false;
    const uint8_t* p = cf.data + offset;
    uint32_t length = readU4(p + 2);
    if (limit - offset - 6 < length) return false;
    uint16_t nameIndex = static_cast<uint16_t>(readU2(p));
    out->push_back({nameIndex, kindOf(cf, nameIndex), static_cast<uint32_t>(offset),
                    static_cast<uint32_t>(offset + 6), length});
    offset += 6 + static_cast<size_t>(length);
  }
  *at = offset;
  return true;
}

bool parseClassFile(const uint8_t* data, size_t size, ClassFile* out) {
  // Offsets are kept in 32 bits; no class file comes near 4 GiB.
  if (data == nullptr || size > 0x7FFFFFFF) return false;
  ByteReader r(data, size);
  ClassFile& cf = *out;
  // Reset field by field, not replaced: a caller that keeps one ClassFile
  // for many classes (the class hook) keeps its vectors' capacity.
  cf.minorVersion = cf.majorVersion = cf.constantCount = 0;
  cf.constantsEnd = cf.methodsStart = cf.attributesStart = 0;
  cf.accessFlags = cf.thisClass = cf.superClass = 0;
  // The members are sized when they are read (readMembers).
  cf.constants.clear();
  cf.attributes.clear();
  cf.memberAttributes.clear();
  cf.data = data;
  cf.size = size;
  if (r.u4() != 0xCAFEBABE) return false;
  cf.minorVersion = static_cast<uint16_t>(r.u2());
  cf.majorVersion = static_cast<uint16_t>(r.u2());
  cf.constantCount = static_cast<uint16_t>(r.u2());
  if (r.failed || cf.constantCount == 0 || cf.majorVersion < 45) return false;
  cf.constants.assign(cf.constantCount, 0);
  for (uint32_t i = 1; i < cf.constantCount; i++) {
    cf.constants[i] = static_cast<uint32_t>(r.offset);
    uint32_t tag = r.u1();
    if (tag == kUtf8) {
      r.skip(r.u2());
    } else {
      int body = constantBodySize(tag);
      if (body < 0) return false;
      r.skip(static_cast<size_t>(body));
      if (tag == kLong || tag == kDouble) {
        i++;  // the next slot is unusable, and must lie inside the pool
        if (i >= cf.constantCount) return false;
      }
    }
    if (r.failed) return false;
  }
  cf.constantsEnd = static_cast<uint32_t>(r.offset);
  cf.accessFlags = static_cast<uint16_t>(r.u2());
  cf.thisClass = static_cast<uint16_t>(r.u2());
  cf.superClass = static_cast<uint16_t>(r.u2());
  uint32_t interfaces = r.u2();
  r.skip(2 * static_cast<size_t>(interfaces));
  if (r.failed) return false;
  if (!readMembers(cf, r, &cf.fields, &cf.memberAttributes)) return false;
  cf.methodsStart = static_cast<uint32_t>(r.offset);
  if (!readMembers(cf, r, &cf.methods, &cf.memberAttributes)) return false;
  const Attribute* next = cf.memberAttributes.data();
  pointIntoPool(cf, next, cf.fields);
  pointIntoPool(cf, next, cf.methods);
  cf.attributesStart = static_cast<uint32_t>(r.offset);
  if (!readAttributes(cf, size, &r.offset, &cf.attributes)) return false;
  if (r.offset != size) return false;
  return constantTag(cf, cf.thisClass) == kClass && !classNameAt(cf, cf.thisClass).empty();
}

uint8_t constantTag(const ClassFile& cf, uint32_t index) {
  if (index == 0 || index >= cf.constants.size() || cf.constants[index] == 0) return 0;
  return cf.data[cf.constants[index]];
}

std::string_view utf8At(const ClassFile& cf, uint32_t index, bool* ok) {
  if (constantTag(cf, index) != kUtf8) {
    if (ok != nullptr) *ok = false;
    return {};
  }
  const uint8_t* p = cf.data + cf.constants[index] + 1;
  if (ok != nullptr) *ok = true;
  return std::string_view(reinterpret_cast<const char*>(p + 2), readU2(p));
}

std::string_view classNameAt(const ClassFile& cf, uint32_t index) {
  if (constantTag(cf, index) != kClass) return {};
  return utf8At(cf, readU2(cf.data + cf.constants[index] + 1));
}

bool attributeIs(const ClassFile& cf, const Attribute& a, std::string_view name) {
  return utf8At(cf, a.nameIndex) == name;
}

}  // namespace classfile
