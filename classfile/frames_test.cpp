// The frames the rewriter works out for the instruction after an inverted
// conditional: locals and stack by the verifier's rules, objects named by
// Class constants (new ones appended when the class has none).
#include "classfile/frames.h"

#include <string>

#include "classfile/test_class.h"
#include "gtest/gtest.h"

namespace classfile {
namespace {

// Class constants by name, new ones numbered from 1000 in a list.
struct Names {
  const ClassFile* cf;
  std::vector<std::string> added;

  static uint16_t find(void* context, std::string_view name) {
    Names& self = *static_cast<Names*>(context);
    for (uint32_t i = 1; i < self.cf->constants.size(); i++) {
      if (constantTag(*self.cf, i) == kClass && classNameAt(*self.cf, i) == name) {
        return static_cast<uint16_t>(i);
      }
    }
    for (size_t i = 0; i < self.added.size(); i++) {
      if (self.added[i] == name) return static_cast<uint16_t>(1000 + i);
    }
    self.added.emplace_back(name);
    return static_cast<uint16_t>(1000 + self.added.size() - 1);
  }
  static std::string_view nameOf(void* context, uint16_t index) {
    Names& self = *static_cast<Names*>(context);
    if (index >= 1000 && index - 1000u < self.added.size()) return self.added[index - 1000u];
    return classNameAt(*self.cf, index);
  }
};

uint16_t methodRef(TestClass& tc, const std::string& owner, const std::string& name,
                   const std::string& descriptor) {
  uint16_t c = tc.classRef(owner);
  uint16_t n = tc.utf8(name), d = tc.utf8(descriptor);
  uint16_t nat = tc.add({kNameAndType, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n),
                         static_cast<uint8_t>(d >> 8), static_cast<uint8_t>(d)});
  return tc.add({kMethodref, static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c),
                 static_cast<uint8_t>(nat >> 8), static_cast<uint8_t>(nat)});
}

struct Worked {
  bool ok = false;
  FrameState state;
  std::vector<std::string> added;
};

// The state after the conditional at `branch` of method 0, from its first frame.
Worked stateAfter(TestClass& tc, uint32_t branch) {
  Worked w;
  Bytes bytes = tc.build();
  ClassFile cf;
  if (!parseClassFile(bytes.data(), bytes.size(), &cf)) return w;
  CodeAttribute code;
  Bytecode bc;
  FrameState initial;
  Names names{&cf, {}};
  ClassIndexer classes{&Names::find, &names, &Names::nameOf};
  if (!parseCodeAttribute(cf, cf.methods[0].attributes[0], &code) ||
      !decodeBytecode(cf.data + code.codeStart, code.codeLength, &bc) ||
      !initialFrame(cf, cf.methods[0], classes, &initial)) {
    return w;
  }
  w.ok = stateAfterConditional(cf, bc, initial, branch, classes, &w.state);
  w.added = names.added;
  return w;
}

TEST(Frames, WideLocalsAndUninitializedObjectsCarryOver) {
  TestClass tc;
  TestMethod m;
  m.descriptor = "(JLjava/lang/String;)V";
  uint16_t x = tc.classRef("X");
  uint16_t string = tc.classRef("java/lang/String");
  // 0: new X  3: dup  4: aload_2  5: ifnull 5
  m.code = {0xbb, 0x00, static_cast<uint8_t>(x), 0x59, 0x2c, 0xc6, 0x00, 0x05, 0xb1};
  m.maxLocals = 3;
  tc.methods.push_back(m);
  Worked w = stateAfter(tc, 5);
  ASSERT_TRUE(w.ok);
  EXPECT_EQ(w.state.locals, (std::vector<VType>{{kLongType, 0}, {kObjectType, string}}));
  EXPECT_EQ(w.state.stack, (std::vector<VType>{{kUninitializedType, 0}, {kUninitializedType, 0}}));
  EXPECT_TRUE(w.added.empty());
}

TEST(Frames, StoresCallsAndConstructorsFollowTheirDescriptors) {
  TestClass tc;
  TestMethod m;
  m.access = 0x0001;  // an instance method: local 0 is this
  m.name = "<init>";
  m.descriptor = "()V";
  uint16_t init = methodRef(tc, "java/lang/Object", "<init>", "()V");
  uint16_t parse = methodRef(tc, "java/util/List", "get", "(I)Ljava/util/Map;");
  // 0: aload_0  1: invokespecial Object.<init>  4: lconst_1  5: lstore_1
  // 6: aconst_null  7: iconst_0  8: invokevirtual List.get  11: astore_3  12: iconst_1
  // 13: ifeq 0
  m.code = {0x2a, 0xb7, 0x00, static_cast<uint8_t>(init),  0x0a, 0x40, 0x01,
            0x03, 0xb6, 0x00, static_cast<uint8_t>(parse), 0x4e, 0x04, 0x99,
            0xff, 0xf3, 0xb1};
  m.maxLocals = 4;
  tc.methods.push_back(m);
  Worked w = stateAfter(tc, 13);
  ASSERT_TRUE(w.ok);
  // this became T once constructed; the Map is a class the pool lacked.
  ASSERT_EQ(w.state.locals.size(), 3u);
  EXPECT_EQ(w.state.locals[0].tag, kObjectType);
  EXPECT_EQ(w.state.locals[1], (VType{kLongType, 0}));
  EXPECT_EQ(w.state.locals[2], (VType{kObjectType, 1000}));
  EXPECT_TRUE(w.state.stack.empty());
  EXPECT_EQ(w.added, (std::vector<std::string>{"java/util/Map"}));
}

TEST(Frames, ArraysAndTheDupFamilyKeepTheirTypes) {
  TestClass tc;
  TestMethod m;
  m.descriptor = "([[Ljava/lang/String;D)V";
  // 0: aload_0  1: iconst_0  2: aaload  3: dload_1  4: dup2_x1  5: pop2  6: iconst_0
  // 7: ifeq 0
  m.code = {0x2a, 0x03, 0x32, 0x27, 0x5d, 0x58, 0x03, 0x99, 0xff, 0xf9, 0xb1};
  m.maxLocals = 3;
  m.maxStack = 6;
  tc.methods.push_back(m);
  Worked w = stateAfter(tc, 7);
  ASSERT_TRUE(w.ok);
  // dup2_x1 put a copy of the double under the String[]; pop2 took the top one.
  ASSERT_EQ(w.state.stack.size(), 2u);
  EXPECT_EQ(w.state.stack[0], (VType{kDoubleType, 0}));
  EXPECT_EQ(w.state.stack[1].tag, kObjectType);
  EXPECT_EQ(w.added, (std::vector<std::string>{"[[Ljava/lang/String;", "[Ljava/lang/String;"}));
}

TEST(Frames, SubroutinesAndUnknownConstantsGiveNoFrame) {
  TestClass jsr;
  TestMethod m;
  m.code = {0xa8, 0x00, 0x04, 0x03, 0x99, 0xff, 0xfc, 0xb1};  // jsr before the jump
  jsr.methods.push_back(m);
  EXPECT_FALSE(stateAfter(jsr, 4).ok);
  TestClass bogus;
  TestMethod n;
  uint16_t text = bogus.utf8("text");
  n.code = {0x12, static_cast<uint8_t>(text), 0x99, 0xff, 0xfe, 0xb1};  // ldc of a Utf8
  bogus.methods.push_back(n);
  EXPECT_FALSE(stateAfter(bogus, 2).ok);
}

}  // namespace
}  // namespace classfile
