// Test-only: builds small class files byte by byte, so that tests can pin
// what the rewriter makes of each construct, and reads a method's code back.
#ifndef CCOVER_CLASSFILE_TEST_CLASS_H_
#define CCOVER_CLASSFILE_TEST_CLASS_H_

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "classfile/bytes.h"
#include "classfile/class_file.h"
#include "classfile/code_rewriter.h"

namespace classfile {

using Bytes = std::vector<uint8_t>;

struct TestMethod {
  uint16_t access = 0x0009;  // public static
  std::string name = "m";
  std::string descriptor = "()V";
  uint16_t maxStack = 2;
  uint16_t maxLocals = 2;
  Bytes code;
  std::vector<std::vector<uint16_t>> exceptions;     // start, end, handler, type
  std::vector<std::pair<uint16_t, uint16_t>> lines;  // start_pc, line
  std::vector<std::vector<uint16_t>> locals;         // start, length, name, descriptor, index
  Bytes stackMap;                                    // frames, after the count
  uint16_t frameCount = 0;
  std::vector<std::pair<std::string, Bytes>> codeAttributes;  // passed through
  std::vector<std::pair<std::string, Bytes>> attributes;      // of the method
  bool hasCode = true;
};

struct TestField {
  std::string name;
  std::string descriptor = "I";
  std::vector<std::pair<std::string, Bytes>> attributes;
};

struct TestClass {
  uint16_t major = 52;
  uint16_t access = 0x0021;
  std::string name = "T";
  std::vector<Bytes> pool;  // entry i + 1
  std::vector<TestField> fields;
  std::vector<TestMethod> methods;
  std::vector<std::pair<std::string, Bytes>> attributes;

  uint16_t add(Bytes entry) {
    pool.push_back(std::move(entry));
    return static_cast<uint16_t>(pool.size());
  }
  uint16_t utf8(const std::string& text) {
    for (size_t i = 0; i < pool.size(); i++) {
      if (pool[i].size() == text.size() + 3 && pool[i][0] == kUtf8 &&
          std::string(pool[i].begin() + 3, pool[i].end()) == text) {
        return static_cast<uint16_t>(i + 1);
      }
    }
    Bytes e = {kUtf8, static_cast<uint8_t>(text.size() >> 8), static_cast<uint8_t>(text.size())};
    e.insert(e.end(), text.begin(), text.end());
    return add(e);
  }
  uint16_t classRef(const std::string& n) {
    uint16_t i = utf8(n);
    return add({kClass, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
  }

  Bytes build() {
    uint16_t thisIndex = classRef(name);
    uint16_t superIndex = classRef("java/lang/Object");
    for (TestMethod& m : methods) {
      utf8(m.name);
      utf8(m.descriptor);
      utf8("Code");
      if (!m.lines.empty()) utf8("LineNumberTable");
      if (!m.locals.empty()) utf8("LocalVariableTable");
      if (m.frameCount > 0) utf8("StackMapTable");
      for (auto& a : m.codeAttributes) utf8(a.first);
      for (auto& a : m.attributes) utf8(a.first);
    }
    for (const TestField& f : fields) {
      utf8(f.name);
      utf8(f.descriptor);
      for (auto& a : f.attributes) utf8(a.first);
    }
    for (auto& a : attributes) utf8(a.first);
    ByteWriter w;
    w.u4(0xCAFEBABE);
    w.u2(0);
    w.u2(major);
    w.u2(static_cast<uint32_t>(pool.size() + 1));
    for (const Bytes& e : pool) w.append(e);
    w.u2(access);
    w.u2(thisIndex);
    w.u2(superIndex);
    w.u2(0);  // interfaces
    w.u2(static_cast<uint32_t>(fields.size()));
    for (const TestField& f : fields) {
      w.u2(0x0002);
      w.u2(utf8(f.name));
      w.u2(utf8(f.descriptor));
      w.u2(static_cast<uint32_t>(f.attributes.size()));
      for (auto& a : f.attributes) {
        w.u2(utf8(a.first));
        w.u4(static_cast<uint32_t>(a.second.size()));
        w.append(a.second);
      }
    }
    w.u2(static_cast<uint32_t>(methods.size()));
    for (TestMethod& m : methods) {
      w.u2(m.access);
      w.u2(utf8(m.name));
      w.u2(utf8(m.descriptor));
      w.u2(static_cast<uint32_t>(m.hasCode + m.attributes.size()));
      if (m.hasCode) {
        ByteWriter c;
        c.u2(m.maxStack);
        c.u2(m.maxLocals);
        c.u4(static_cast<uint32_t>(m.code.size()));
        c.append(m.code);
        c.u2(static_cast<uint32_t>(m.exceptions.size()));
        for (auto& e : m.exceptions) {
          for (uint16_t v : e) c.u2(v);
        }
        uint32_t count = !m.lines.empty() + !m.locals.empty() + (m.frameCount > 0) +
                         static_cast<uint32_t>(m.codeAttributes.size());
        c.u2(count);
        if (!m.lines.empty()) {
          c.u2(utf8("LineNumberTable"));
          c.u4(static_cast<uint32_t>(2 + 4 * m.lines.size()));
          c.u2(static_cast<uint32_t>(m.lines.size()));
          for (auto& l : m.lines) {
            c.u2(l.first);
            c.u2(l.second);
          }
        }
        if (!m.locals.empty()) {
          c.u2(utf8("LocalVariableTable"));
          c.u4(static_cast<uint32_t>(2 + 10 * m.locals.size()));
          c.u2(static_cast<uint32_t>(m.locals.size()));
          for (auto& l : m.locals) {
            for (uint16_t v : l) c.u2(v);
          }
        }
        if (m.frameCount > 0) {
          c.u2(utf8("StackMapTable"));
          c.u4(static_cast<uint32_t>(2 + m.stackMap.size()));
          c.u2(m.frameCount);
          c.append(m.stackMap);
        }
        for (auto& a : m.codeAttributes) {
          c.u2(utf8(a.first));
          c.u4(static_cast<uint32_t>(a.second.size()));
          c.append(a.second);
        }
        w.u2(utf8("Code"));
        w.u4(static_cast<uint32_t>(c.size()));
        w.append(c.bytes);
      }
      for (auto& a : m.attributes) {
        w.u2(utf8(a.first));
        w.u4(static_cast<uint32_t>(a.second.size()));
        w.append(a.second);
      }
    }
    w.u2(static_cast<uint32_t>(attributes.size()));
    for (auto& a : attributes) {
      w.u2(utf8(a.first));
      w.u4(static_cast<uint32_t>(a.second.size()));
      w.append(a.second);
    }
    return w.bytes;
  }
};

// What a rewritten method holds, read back with the module's own reader.
struct MethodView {
  bool found = false;
  uint16_t maxStack = 0;
  Bytes code;
  std::vector<uint16_t> exceptions;                       // flattened 4-tuples
  std::vector<std::pair<std::string, Bytes>> attributes;  // of Code, contents
};

inline MethodView viewMethod(const Bytes& bytes, int index) {
  MethodView v;
  ClassFile cf;
  if (!parseClassFile(bytes.data(), bytes.size(), &cf) ||
      index >= static_cast<int>(cf.methods.size())) {
    return v;
  }
  for (const Attribute& a : cf.methods[static_cast<size_t>(index)].attributes) {
    if (!attributeIs(cf, a, "Code")) continue;
    CodeAttribute code;
    if (!parseCodeAttribute(cf, a, &code)) return v;
    v.found = true;
    v.maxStack = code.maxStack;
    v.code.assign(cf.data + code.codeStart, cf.data + code.codeStart + code.codeLength);
    for (uint32_t e = 0; e < 4u * code.exceptionCount; e++) {
      v.exceptions.push_back(static_cast<uint16_t>(
          readU2(cf.data + code.exceptionsStart + 2 + 2 * static_cast<size_t>(e))));
    }
    for (const Attribute& s : code.attributes) {
      v.attributes.push_back({std::string(utf8At(cf, s.nameIndex)),
                              Bytes(cf.data + s.info, cf.data + s.info + s.length)});
    }
  }
  return v;
}

inline Bytes attributeOf(const MethodView& v, const std::string& name) {
  for (auto& a : v.attributes) {
    if (a.first == name) return a.second;
  }
  return {};
}

}  // namespace classfile

#endif  // CCOVER_CLASSFILE_TEST_CLASS_H_
