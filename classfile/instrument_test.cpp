// The class-level rules: which methods get slots, what is left alone, what
// passes through untouched, and the constants the probes need.
#include "classfile/instrument.h"

#include <string>

#include "classfile/test_class.h"
#include "gtest/gtest.h"

namespace classfile {
namespace {

struct Result {
  Bytes input;
  ClassOutcome outcome = ClassOutcome::kMalformed;
  Bytes output;
  ClassOutline outline;
};

Result instrumentBytes(Bytes input, uint32_t classId = 100) {
  Result r;
  r.input = std::move(input);
  ClassFile cf;
  if (!parseClassFile(r.input.data(), r.input.size(), &cf)) return r;
  r.outcome = instrumentClass(cf, classId, &r.output, &r.outline);
  return r;
}

TestMethod simple(const std::string& name, uint16_t access, uint16_t line) {
  TestMethod m;
  m.name = name;
  m.access = access;
  m.code = {0x04, 0x3b, 0xb1};  // iconst_1 istore_0 return
  m.lines = {{0, line}, {2, static_cast<uint16_t>(line + 1)}};
  return m;
}

TestMethod abstractMethod(const std::string& name) {
  TestMethod m;
  m.name = name;
  m.access = 0x0401;  // public abstract
  m.hasCode = false;
  return m;
}

TEST(LineSlots, FollowCodeOrderAndDropEntriesThatCannotRun) {
  TestClass tc;
  TestMethod m;
  m.code = {0x11, 0x01, 0x2c, 0x3b, 0xb1};  // 0: sipush 300  3: istore_0  4: return
  // Out of order; a leading line 0 at offset 0 yields to line 10, a later
  // one stays; offset 1 is inside sipush and 5 is the end of the code.
  m.lines = {{4, 12}, {0, 0}, {0, 10}, {0, 0}, {1, 99}, {5, 77}, {3, 11}};
  tc.methods.push_back(m);
  Result r = instrumentBytes(tc.build());
  ASSERT_EQ(r.outcome, ClassOutcome::kInstrumented);
  EXPECT_EQ(r.outline.methods[0].lines, (std::vector<uint16_t>{10, 0, 11, 12}));
}

TEST(LineSlots, SyntheticMethodsCountEntriesOnlyUnlessTheyAreLambdaBodies) {
  TestClass tc;
  tc.methods.push_back(simple("access$000", 0x1008, 10));
  tc.methods.push_back(simple("lambda$main$0", 0x100a, 20));
  TestMethod old = simple("viaAttribute", 0x0008, 30);
  old.attributes.push_back({"Synthetic", {}});
  tc.methods.push_back(old);
  tc.methods.push_back(abstractMethod("a"));
  Result r = instrumentBytes(tc.build());
  ASSERT_EQ(r.outcome, ClassOutcome::kInstrumented);
  ASSERT_EQ(r.outline.methods.size(), 4u);
  EXPECT_TRUE(r.outline.methods[0].lines.empty());
  EXPECT_EQ(r.outline.methods[1].lines, (std::vector<uint16_t>{20, 21}));
  EXPECT_TRUE(r.outline.methods[2].lines.empty());
  EXPECT_EQ(r.outline.methods[2].accessFlags, 0x1008);
  EXPECT_TRUE(r.outline.methods[3].lines.empty());
  EXPECT_EQ(r.outline.methods[3].outcome, MethodOutcome::kCounted);
  // The synthetic method still counts its entry: entry(101) leads its code.
  MethodView v = viewMethod(r.output, 0);
  EXPECT_EQ(Bytes(v.code.begin(), v.code.begin() + 2), Bytes({0x10, 101}));
  EXPECT_EQ(v.code.size(), 3u + 8u);
}

TEST(LineSlots, NoMethodOfASyntheticClassHasSlots) {
  TestClass tc;
  tc.access = 0x1020;
  tc.methods.push_back(simple("values", 0x0009, 5));
  Result r = instrumentBytes(tc.build());
  ASSERT_EQ(r.outcome, ClassOutcome::kInstrumented);
  EXPECT_TRUE(r.outline.methods[0].lines.empty());
  EXPECT_EQ(r.outline.accessFlags, 0x1020);
}

TEST(Instrument, OutlineNamesTheClassItsSourceAndItsMethods) {
  TestClass tc;
  tc.name = "app/Hello";
  uint16_t source = tc.utf8("Hello.java");
  tc.attributes.push_back({"SourceFile", {0, static_cast<uint8_t>(source)}});
  tc.methods.push_back(simple("run", 0x0021, 7));
  Result r = instrumentBytes(tc.build());
  ASSERT_EQ(r.outcome, ClassOutcome::kInstrumented);
  EXPECT_EQ(r.outline.name, "app/Hello");
  EXPECT_TRUE(r.outline.hasSourceFile);
  EXPECT_EQ(r.outline.sourceFile, "Hello.java");
  EXPECT_EQ(r.outline.methods[0].name, "run");
  EXPECT_EQ(r.outline.methods[0].descriptor, "()V");
  EXPECT_EQ(r.outline.methods[0].accessFlags, 0x0021);
}

TEST(Instrument, UnknownAttributesPassThroughByteForByte) {
  TestClass tc;
  Bytes classAttr = {1, 2, 3, 4, 5};
  Bytes methodAttr = {9, 8, 7};
  Bytes codeAttr = {0xca, 0xfe};
  tc.attributes.push_back({"Custom", classAttr});
  TestMethod m = simple("m", 0x0009, 3);
  m.attributes.push_back({"MethodCustom", methodAttr});
  m.codeAttributes.push_back({"CodeCustom", codeAttr});
  tc.methods.push_back(m);
  Result r = instrumentBytes(tc.build());
  ASSERT_EQ(r.outcome, ClassOutcome::kInstrumented);
  ClassFile cf;
  ASSERT_TRUE(parseClassFile(r.output.data(), r.output.size(), &cf));
  ASSERT_EQ(cf.attributes.size(), 1u);
  EXPECT_EQ(Bytes(cf.data + cf.attributes[0].info, cf.data + cf.attributes[0].info + 5), classAttr);
  ASSERT_EQ(cf.methods[0].attributes.size(), 2u);
  const Attribute& a = cf.methods[0].attributes[1];
  EXPECT_TRUE(attributeIs(cf, a, "MethodCustom"));
  EXPECT_EQ(Bytes(cf.data + a.info, cf.data + a.info + a.length), methodAttr);
  EXPECT_EQ(attributeOf(viewMethod(r.output, 0), "CodeCustom"), codeAttr);
}

// Attributes are told apart by their whole names when read, and each member's
// attributes are its own even though all members' share one pool.
TEST(Instrument, AttributesAreToldApartByName) {
  TestClass tc;
  TestMethod first = simple("first", 0x0009, 3);
  first.attributes.push_back({"Synthetix", {}});
  first.attributes.push_back({"Synthetic", {}});
  first.attributes.push_back({"Deprecated", {}});
  first.codeAttributes.push_back({"LineNumberTabl", {0}});
  TestMethod second = simple("second", 0x0009, 4);
  second.attributes.push_back({"SourceFile", {0, 1}});
  tc.methods.push_back(first);
  tc.methods.push_back(second);
  tc.attributes.push_back({"SourceFilf", {0, 1}});
  tc.fields.push_back({"f", "I", {{"ConstantValue", {0, 1}}, {"Synthetic", {}}}});
  tc.fields.push_back({"g", "J", {}});
  Bytes bytes = tc.build();
  ClassFile cf;
  ASSERT_TRUE(parseClassFile(bytes.data(), bytes.size(), &cf));
  auto kinds = [&](std::span<const Attribute> attributes) {
    std::vector<std::pair<std::string, AttributeKind>> out;
    for (const Attribute& a : attributes) out.emplace_back(utf8At(cf, a.nameIndex), a.kind);
    return out;
  };
  using K = AttributeKind;
  using Kinds = std::vector<std::pair<std::string, AttributeKind>>;
  EXPECT_EQ(kinds(cf.methods[0].attributes), (Kinds{{"Code", K::kCode},
                                                    {"Synthetix", K::kOther},
                                                    {"Synthetic", K::kSynthetic},
                                                    {"Deprecated", K::kOther}}));
  EXPECT_EQ(kinds(cf.methods[1].attributes),
            (Kinds{{"Code", K::kCode}, {"SourceFile", K::kSourceFile}}));
  EXPECT_EQ(kinds(cf.attributes), (Kinds{{"SourceFilf", K::kOther}}));
  ASSERT_EQ(cf.fields.size(), 2u);
  EXPECT_EQ(kinds(cf.fields[0].attributes),
            (Kinds{{"ConstantValue", K::kOther}, {"Synthetic", K::kSynthetic}}));
  EXPECT_TRUE(cf.fields[1].attributes.empty());
  CodeAttribute code;
  ASSERT_TRUE(parseCodeAttribute(cf, cf.methods[0].attributes[0], &code));
  EXPECT_EQ(kinds(code.attributes),
            (Kinds{{"LineNumberTable", K::kLineNumberTable}, {"LineNumberTabl", K::kOther}}));

  // The near-miss names change nothing: only the real Synthetic marks it.
  Result r = instrumentBytes(bytes);
  ASSERT_EQ(r.outcome, ClassOutcome::kInstrumented);
  EXPECT_FALSE(r.outline.hasSourceFile);
  EXPECT_EQ(r.outline.methods[0].accessFlags, 0x0009 | kAccSynthetic);
  EXPECT_EQ(r.outline.methods[1].accessFlags, 0x0009);
}

TEST(Instrument, LargeIdsAreLoadedFromIntegerConstants) {
  TestClass tc;
  tc.methods.push_back(simple("m", 0x0009, 3));
  Result r = instrumentBytes(tc.build(), 40000);
  ASSERT_EQ(r.outcome, ClassOutcome::kInstrumented);
  ClassFile in, out;
  ASSERT_TRUE(parseClassFile(r.input.data(), r.input.size(), &in));
  ASSERT_TRUE(parseClassFile(r.output.data(), r.output.size(), &out));
  uint32_t integer = in.constantCount + 13;
  ASSERT_EQ(constantTag(out, integer), kInteger);
  EXPECT_EQ(readU4(out.data + out.constants[integer] + 1), 40001u);
  MethodView v = viewMethod(r.output, 0);
  EXPECT_EQ(Bytes(v.code.begin(), v.code.begin() + 3),
            Bytes({0x12, static_cast<uint8_t>(integer), 0x03}));  // ldc #40001, iconst_0
}

TEST(Instrument, AFullConstantPoolLeavesTheClassAsItWasAndSaysWhy) {
  TestClass tc;
  for (int i = 0; i < 65520; i++)
    tc.add({kInteger, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
  tc.methods.push_back(simple("m", 0x0009, 3));
  Result r = instrumentBytes(tc.build());
  EXPECT_EQ(r.outcome, ClassOutcome::kUnchanged);
  ASSERT_EQ(r.outline.methods.size(), 1u);
  EXPECT_EQ(r.outline.methods[0].outcome, MethodOutcome::kNotInstrumented);
  EXPECT_EQ(r.outline.methods[0].reason, MethodReason::kPoolOverflow);
}

TEST(Instrument, ModulesAndPackageDescriptorsAreSkipped) {
  TestClass module;
  module.name = "module-info";
  module.access = 0x8000;
  EXPECT_EQ(instrumentBytes(module.build()).outcome, ClassOutcome::kSkipped);
  TestClass package;
  package.name = "app/package-info";
  package.access = 0x1600;
  EXPECT_EQ(instrumentBytes(package.build()).outcome, ClassOutcome::kSkipped);
}

TEST(Instrument, NewerVersionsAreReadAsLongAsTheirStructureIs) {
  for (uint16_t major : {45, 50, 61, 65, 69, 70, 80}) {
    TestClass tc;
    tc.major = major;
    tc.methods.push_back(simple("m", 0x0009, 3));
    EXPECT_EQ(instrumentBytes(tc.build()).outcome, ClassOutcome::kInstrumented) << major;
  }
}

TEST(Instrument, MalformedClassesAreRefused) {
  TestClass tc;
  tc.methods.push_back(simple("m", 0x0009, 3));
  Bytes good = tc.build();
  ClassFile cf;
  for (size_t cut = 0; cut < good.size(); cut++) {
    EXPECT_FALSE(parseClassFile(good.data(), cut, &cf)) << cut;
  }
  Bytes extra = good;
  extra.push_back(0);
  EXPECT_FALSE(parseClassFile(extra.data(), extra.size(), &cf));

  auto withCode = [](Bytes code) {
    TestClass c;
    TestMethod m;
    m.code = std::move(code);
    c.methods.push_back(m);
    return instrumentBytes(c.build()).outcome;
  };
  EXPECT_EQ(withCode({0xa7, 0x00, 0x01, 0xb1}), ClassOutcome::kMalformed);  // into goto itself
  EXPECT_EQ(withCode({0xa7, 0x00, 0x09, 0xb1}), ClassOutcome::kMalformed);  // past the end
  EXPECT_EQ(withCode({0xcb, 0xb1}), ClassOutcome::kMalformed);              // no such opcode
  EXPECT_EQ(withCode({0xc4, 0x04, 0xb1}), ClassOutcome::kMalformed);        // wide iconst_1
  EXPECT_EQ(withCode({0x11, 0x00}), ClassOutcome::kMalformed);              // cut sipush
  EXPECT_EQ(withCode({0xaa, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 1}),  // low > high
            ClassOutcome::kMalformed);
}

// A Long or Double takes two pool slots; in the last slot its second half
// would lie past the pool, which the JVM refuses, and new constants appended
// after it would be numbered one short.
TEST(Instrument, WideConstantInTheLastSlotIsRefused) {
  TestClass tc;
  tc.methods.push_back(simple("m", 0x0009, 3));
  Bytes good = tc.build();
  ClassFile cf;
  ASSERT_TRUE(parseClassFile(good.data(), good.size(), &cf));
  auto withLongAtEnd = [&](uint16_t extraSlots) {
    Bytes b = good;
    uint16_t count = static_cast<uint16_t>(cf.constantCount + extraSlots);
    b[8] = static_cast<uint8_t>(count >> 8);
    b[9] = static_cast<uint8_t>(count);
    Bytes entry = {kLong, 0, 0, 0, 0, 0, 0, 0, 7};
    b.insert(b.begin() + cf.constantsEnd, entry.begin(), entry.end());
    return b;
  };
  Bytes fits = withLongAtEnd(2);
  ClassFile parsed;
  EXPECT_TRUE(parseClassFile(fits.data(), fits.size(), &parsed));
  EXPECT_EQ(instrumentBytes(fits).outcome, ClassOutcome::kInstrumented);
  Bytes cut = withLongAtEnd(1);
  EXPECT_FALSE(parseClassFile(cut.data(), cut.size(), &parsed));
  EXPECT_EQ(instrumentBytes(cut).outcome, ClassOutcome::kMalformed);
}

TEST(Instrument, OutputParsesAndInstrumentsAgain) {
  TestClass tc;
  tc.methods.push_back(simple("m", 0x0009, 3));
  tc.methods.push_back(simple("n", 0x0009, 8));
  Result first = instrumentBytes(tc.build());
  ASSERT_EQ(first.outcome, ClassOutcome::kInstrumented);
  Result second = instrumentBytes(first.output, 200);
  ASSERT_EQ(second.outcome, ClassOutcome::kInstrumented);
  EXPECT_EQ(second.outline.methods[1].lines, (std::vector<uint16_t>{8, 9}));
}

// The class is sized before it is written into the caller's memory (the
// JVM's, in the class hook): exactly the bytes of the vector form, nothing
// past them; and no memory means the class is left as it was.
TEST(Instrument, OutputFillsExactlyTheMemoryAskedFor) {
  TestClass tc;
  tc.methods.push_back(simple("m", 0x0009, 3));
  TestMethod withAttributes = simple("n", 0x0009, 8);
  withAttributes.codeAttributes.push_back({"Vendor", {1, 2, 3}});
  withAttributes.attributes.push_back({"Deprecated", {}});
  tc.methods.push_back(withAttributes);
  tc.methods.push_back(abstractMethod("a"));
  tc.attributes.push_back({"Custom", {9, 8, 7, 6}});
  Bytes input = tc.build();
  Result reference = instrumentBytes(input);
  ASSERT_EQ(reference.outcome, ClassOutcome::kInstrumented);

  struct Guarded {
    Bytes memory;
    size_t asked = 0;
    int calls = 0;
    bool refuse = false;
    static uint8_t* allocate(void* context, size_t size) {
      Guarded& self = *static_cast<Guarded*>(context);
      self.calls++;
      self.asked = size;
      if (self.refuse) return nullptr;
      self.memory.assign(size + 64, 0xAA);
      return self.memory.data();
    }
  };
  ClassFile cf;
  ASSERT_TRUE(parseClassFile(input.data(), input.size(), &cf));
  Guarded guarded;
  ClassOutline outline;
  ASSERT_EQ(instrumentClass(cf, 100, {&Guarded::allocate, &guarded}, &outline),
            ClassOutcome::kInstrumented);
  EXPECT_EQ(guarded.calls, 1);
  ASSERT_EQ(guarded.asked, reference.output.size());
  EXPECT_EQ(Bytes(guarded.memory.begin(), guarded.memory.begin() + guarded.asked),
            reference.output);
  EXPECT_EQ(Bytes(guarded.memory.begin() + guarded.asked, guarded.memory.end()), Bytes(64, 0xAA));

  Guarded refusing;
  refusing.refuse = true;
  EXPECT_EQ(instrumentClass(cf, 100, {&Guarded::allocate, &refusing}, &outline),
            ClassOutcome::kUnchanged);
  EXPECT_EQ(refusing.calls, 1);
}

}  // namespace
}  // namespace classfile
