// Reads the structure of a class file without copying it: the constant pool
// (where each entry starts), the header, fields, methods and attributes as
// ranges of the caller's bytes. Nothing is decoded that instrumenting doesn't
// need; an attribute is a name and a byte range, so that one this module
// doesn't use can be written back byte for byte.
//
// Any major version is read: only a structure that can't be parsed fails
// (an unknown constant tag, a count past the end, bytes left over).
//
// REQUIRES: the bytes outlive the ClassFile.
// Thread-safety: a ClassFile is immutable once parsed.
#ifndef CCOVER_CLASSFILE_CLASS_FILE_H_
#define CCOVER_CLASSFILE_CLASS_FILE_H_

#include <stddef.h>
#include <stdint.h>

#include <span>
#include <string_view>
#include <vector>

namespace classfile {

enum ConstantTag : uint8_t {
  kUtf8 = 1,
  kInteger = 3,
  kFloat = 4,
  kLong = 5,
  kDouble = 6,
  kClass = 7,
  kString = 8,
  kFieldref = 9,
  kMethodref = 10,
  kInterfaceMethodref = 11,
  kNameAndType = 12,
  kMethodHandle = 15,
  kMethodType = 16,
  kDynamic = 17,
  kInvokeDynamic = 18,
  kModule = 19,
  kPackage = 20,
};

enum AccessFlag : uint16_t {
  kAccSynchronized = 0x0020,
  kAccInterface = 0x0200,
  kAccSynthetic = 0x1000,
  kAccModule = 0x8000,
};

// The attributes that this module reads, told apart once when they are read
// so that no pass compares names; any other is kOther.
enum class AttributeKind : uint8_t {
  kOther,
  kCode,
  kLineNumberTable,
  kLocalVariableTable,
  kLocalVariableTypeTable,
  kStackMapTable,
  kSourceFile,
  kSynthetic,
};

struct Attribute {
  uint16_t nameIndex;
  AttributeKind kind;
  uint32_t start;   // of the whole attribute (its name index) in the class bytes
  uint32_t info;    // of its contents
  uint32_t length;  // of its contents
};

struct Member {
  uint32_t start;  // of the access flags
  uint32_t end;    // one past its last attribute
  uint16_t accessFlags;
  uint16_t nameIndex;
  uint16_t descriptorIndex;
  std::span<const Attribute> attributes;  // in ClassFile::memberAttributes
};

struct ClassFile {
  ClassFile() = default;
  // Members point into memberAttributes: a copy would point into this one's.
  ClassFile(const ClassFile&) = delete;
  ClassFile& operator=(const ClassFile&) = delete;
  ClassFile(ClassFile&&) = default;
  ClassFile& operator=(ClassFile&&) = default;

  const uint8_t* data;
  size_t size;
  uint16_t minorVersion;
  uint16_t majorVersion;
  uint16_t constantCount;           // the file's constant_pool_count
  std::vector<uint32_t> constants;  // offset of each entry's tag; 0 for unusable slots
  uint32_t constantsEnd;            // offset of access_flags
  uint16_t accessFlags;
  uint16_t thisClass;
  uint16_t superClass;
  std::vector<Member> fields;
  uint32_t methodsStart;  // offset of methods_count
  std::vector<Member> methods;
  uint32_t attributesStart;  // offset of the class's attributes_count
  std::vector<Attribute> attributes;
  // Every field's and method's attributes, member after member.
  std::vector<Attribute> memberAttributes;
};

// False when the bytes are not a class file this module can walk; *out then
// holds nothing to read. *out's vectors keep their capacity, so a caller may
// keep one ClassFile for many classes.
bool parseClassFile(const uint8_t* data, size_t size, ClassFile* out);

// Tag of a constant; 0 for an index out of range or an unusable slot.
uint8_t constantTag(const ClassFile& cf, uint32_t index);

// The modified UTF-8 bytes of a Utf8 constant; empty (and false from ok) when
// the index names no Utf8 constant.
std::string_view utf8At(const ClassFile& cf, uint32_t index, bool* ok = nullptr);

// The name of a Class constant (internal form); empty when not one.
std::string_view classNameAt(const ClassFile& cf, uint32_t index);

// Whether an attribute's name is the given text.
bool attributeIs(const ClassFile& cf, const Attribute& a, std::string_view name);

// Reads the attributes of cf's bytes that start at `at`, appending them to
// *out; false when they run past `limit`.
bool readAttributes(const ClassFile& cf, size_t limit, size_t* at, std::vector<Attribute>* out);

// The name of `member` and its descriptor.
inline std::string_view memberName(const ClassFile& cf, const Member& m) {
  return utf8At(cf, m.nameIndex);
}
inline std::string_view memberDescriptor(const ClassFile& cf, const Member& m) {
  return utf8At(cf, m.descriptorIndex);
}

}  // namespace classfile

#endif  // CCOVER_CLASSFILE_CLASS_FILE_H_
