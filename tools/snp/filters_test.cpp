#include "tools/snp/filters.h"

#include <gtest/gtest.h>

#include "classfile/test_class.h"
#include "tools/snp/compiler_code.h"
#include "tools/snp/report_classes.h"
#include "tools/snp/report_input.h"
#include "tools/snp/snapshot_writer.h"
#include "tools/snp/test_support.h"

namespace {

SnpMethod method(const std::string& name, const std::string& signature, int32_t flags) {
  SnpMethod m;
  m.name = name;
  m.signature = signature;
  m.accessFlags = flags;
  return m;
}

TEST(Filters, NameCompilerMadeMethodsOnly) {
  SnpClass plain;
  plain.name = "app/Pick";
  EXPECT_STREQ(methodFilter(plain, method("compareTo", "(Ljava/lang/Object;)I", 0x1041)),
               "bridge method");
  EXPECT_STREQ(methodFilter(plain, method("access$000", "(Lapp/Pick;)I", 0x1008)),
               "synthetic method");
  EXPECT_EQ(methodFilter(plain, method("lambda$of$0", "()V", 0x100a)), nullptr)
      << "a lambda's body is the programmer's code";
  EXPECT_EQ(methodFilter(plain, method("compareTo", "(Lapp/Pick;)I", 0x0001)), nullptr);
  EXPECT_EQ(methodFilter(plain, method("values", "()[Lapp/Pick;", 0x0009)), nullptr)
      << "not an enum: a method of the programmer's that happens to be called values";
  SnpClass color;
  color.name = "app/Color";
  color.accessFlags = 0x4031;
  EXPECT_STREQ(methodFilter(color, method("values", "()[Lapp/Color;", 0x0009)), "enum values()");
  EXPECT_STREQ(methodFilter(color, method("$values", "()[Lapp/Color;", 0x100a)),
               "synthetic method");
  EXPECT_STREQ(methodFilter(color, method("valueOf", "(Ljava/lang/String;)Lapp/Color;", 0x0009)),
               "enum valueOf(String)");
  EXPECT_EQ(methodFilter(color, method("valueOf", "(I)Lapp/Color;", 0x0009)), nullptr);
  EXPECT_EQ(methodFilter(color, method("warm", "()Z", 0x0000)), nullptr);
  SnpClass switchMap;
  switchMap.accessFlags = 0x1020;
  EXPECT_NE(classFilter(switchMap), nullptr);
  EXPECT_EQ(classFilter(plain), nullptr);
}

// Counted methods and whether Pick$1 is reported, from filters.jar (an enum, a
// switch over it, a bridge method), with and without filters.
TEST(Filters, LeaveCompilerMadeCodeOutOfReportsUnlessTurnedOff) {
  std::vector<std::string> warnings;
  for (bool filters : {true, false}) {
    Snapshot s =
        loadReportInput({dataFile("small.snp")}, {dataFile("filters.jar")}, filters, &warnings);
    EXPECT_TRUE(warnings.empty());
    const SnpClass* color = findClass(s, "app/gen/Color");
    const SnpClass* pick = findClass(s, "app/gen/Pick");
    ASSERT_NE(color, nullptr);
    ASSERT_NE(pick, nullptr);
    // Color: warm, <clinit> (+ values, valueOf, $values and javac's
    // constructor); Level: its own constructor, <clinit> (+ the three);
    // Pick: <init>, of, compareTo(Pick) (+ the bridge compareTo(Object)).
    EXPECT_EQ(classCounters(s, *color).method.total(), filters ? 2u : 6u);
    EXPECT_EQ(classCounters(s, *findClass(s, "app/gen/Level")).method.total(), filters ? 2u : 5u);
    EXPECT_EQ(classCounters(s, *pick).method.total(), filters ? 3u : 4u);
    // Point: <init>, sum, x, y (+ javac's toString, hashCode, equals);
    // Range: <init>, its own equals and hashCode, from, to (+ toString).
    EXPECT_EQ(classCounters(s, *findClass(s, "app/gen/Point")).method.total(), filters ? 4u : 7u);
    EXPECT_EQ(classCounters(s, *findClass(s, "app/gen/Range")).method.total(), filters ? 5u : 6u);
    bool switchMap = false;
    for (const SnpClass* c : reportedClasses(s)) switchMap |= c->name == "app/gen/Pick$1";
    EXPECT_EQ(switchMap, !filters);
  }
}

// The SMAP of tests/data/snp/kotlin.jar's InlineKt (kotlin-src/build.sh).
constexpr const char* kInlineSmap =
    "SMAP\nInline.kt\nKotlin\n*S Kotlin\n*F\n+ 1 Inline.kt\napp/kt/InlineKt\n*L\n"
    "1#1,14:1\n6#1,3:15\n*S KotlinDebug\n*F\n+ 1 Inline.kt\napp/kt/InlineKt\n*L\n"
    "12#1:15,3\n*E\n";

TEST(KotlinSmap, GivesTheFirstLineOfInlinedCode) {
  EXPECT_EQ(kotlinFirstInlinedLine("app/kt/InlineKt", "Inline.kt", kInlineSmap), 15);
  // Another file's function inlined below this file's own: the lowest wins,
  // and a line without a file ID keeps the previous one (here file 2).
  EXPECT_EQ(kotlinFirstInlinedLine("app/kt/A", "A.kt",
                                   "SMAP\r\nA.kt\r\nKotlin\r\n*S Kotlin\r\n*F\r\n"
                                   "+ 1 A.kt\r\napp/kt/A\r\n+ 2 Util.kt\r\napp/kt/UtilKt\r\n"
                                   "*L\r\n1#1,30:1\r\n7#2,2:40\r\n3:31\r\n*E\r\n"),
            31);
  // The same lines of another class's file are inlined code too.
  EXPECT_EQ(kotlinFirstInlinedLine("app/kt/A", "A.kt",
                                   "SMAP\nA.kt\nKotlin\n*S Kotlin\n*F\n+ 1 A.kt\napp/kt/A\n"
                                   "+ 2 A.kt\napp/kt/AKt\n*L\n1#1,30:1\n31#2:31\n*E\n"),
            31);
  EXPECT_EQ(kotlinFirstInlinedLine("app/kt/A", "A.kt",
                                   "SMAP\nA.kt\nKotlin\n*S Kotlin\n*F\n+ 1 A.kt\napp/kt/A\n"
                                   "*L\n1#1,30:1\n*E\n"),
            0)
      << "nothing inlined";
}

TEST(KotlinSmap, AnythingElseFiltersNothing) {
  EXPECT_EQ(kotlinFirstInlinedLine("app/kt/InlineKt", "Inline.kt", ""), 0);
  EXPECT_EQ(kotlinFirstInlinedLine("app/kt/InlineKt", "Other.kt", kInlineSmap), 0)
      << "a map of another file";
  EXPECT_EQ(kotlinFirstInlinedLine("index_jsp", "index_jsp.java",
                                   "SMAP\nindex_jsp.java\nJSP\n*S JSP\n*F\n+ 0 index.jsp\n"
                                   "index.jsp\n*L\n1,5:60\n*E\n"),
            0)
      << "a JSP's map: its lines are not Kotlin's inlined code";
  std::string smap = kInlineSmap;
  for (const char* broken : {"6#1,3;15", "6#9,3:15", "6#1,3:", "x:15", "6#1,3:15 "}) {
    std::string text = smap;
    text.replace(text.find("6#1,3:15"), 8, broken);
    EXPECT_EQ(kotlinFirstInlinedLine("app/kt/InlineKt", "Inline.kt", text), 0) << broken;
  }
  EXPECT_EQ(kotlinFirstInlinedLine("app/kt/InlineKt", "Inline.kt",
                                   smap.substr(0, smap.find("*S Kotlin", 20))),
            0)
      << "a map without its end";
}

std::vector<int32_t> linesOf(const Snapshot& s, const SnpClass& c) {
  std::vector<int32_t> lines;
  for (const auto& [line, count] : classLines(s, c)) lines.push_back(line);
  return lines;
}

// Line slots numbered past the end of the file leave the report, from the
// class file, whether or not the run loaded the class.
TEST(Filters, DropKotlinInlinedLinesPastTheEndOfTheFile) {
  TempDir dir;
  std::vector<std::string> warnings;
  Snapshot all =
      loadReportInput({dataFile("small.snp")}, {dataFile("kotlin.jar")}, false, &warnings);
  const std::vector<int32_t> own = {6, 7, 8, 11, 12, 13};
  std::vector<int32_t> withInlined = own;
  withInlined.insert(withInlined.end(), {15, 16, 17});
  ASSERT_NE(findClass(all, "app/kt/InlineKt"), nullptr);
  EXPECT_EQ(linesOf(all, *findClass(all, "app/kt/InlineKt")), withInlined);
  Snapshot never =
      loadReportInput({dataFile("small.snp")}, {dataFile("kotlin.jar")}, true, &warnings);
  EXPECT_EQ(linesOf(never, *findClass(never, "app/kt/InlineKt")), own);

  // A run that loaded it: every slot ran. Written back as a snapshot, read
  // with and without its class file.
  for (SnpMethod& m : all.methods) {
    if (m.classId != findClass(all, "app/kt/InlineKt")->id) continue;
    m.invocations = 1;
    for (uint32_t& hit : m.hits) hit = 3;
  }
  std::string ran = dir.file("ran.snp");
  writeSnapshotFile(all, ran);
  Snapshot loaded = loadReportInput({ran}, {dataFile("kotlin.jar")}, true, &warnings);
  const SnpClass* inline_ = findClass(loaded, "app/kt/InlineKt");
  ASSERT_NE(inline_, nullptr);
  EXPECT_FALSE(inline_->fromClassFile);
  EXPECT_EQ(linesOf(loaded, *inline_), own);
  EXPECT_EQ(classCounters(loaded, *inline_).line.covered, own.size()) << "counts kept";
  EXPECT_TRUE(warnings.empty());

  Snapshot alone = loadReportInput({ran}, {}, true, &warnings);
  EXPECT_EQ(linesOf(alone, *findClass(alone, "app/kt/InlineKt")), withInlined)
      << "the snapshot does not say where the file ends";
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0],
            "Kotlin classes without class files (1): lines of inline functions past the end of a "
            "file are reported (give --classes to leave them out)");
}

// javac copies the closing of a resource and a finally block onto every way
// out of the try: one line, several slots. The headline counts the line once,
// covered when any copy ran, so no filter is needed.
TEST(Filters, DuplicatedFinallyCodeCountsEachLineOnce) {
  std::vector<std::string> warnings;
  Snapshot s = loadReportInput({dataFile("small.snp")}, {dataFile("filters.jar")}, true, &warnings);
  const SnpClass* c = findClass(s, "app/gen/Resources");
  ASSERT_NE(c, nullptr);
  size_t slots = 0;
  for (size_t i = 0; i < c->methods.size(); i++) slots += s.method(*c, i).lines.size();
  EXPECT_EQ(slots, 11u);
  EXPECT_EQ(linesOf(s, *c), (std::vector<int32_t>{7, 9, 10, 11, 12, 13, 14, 15}));
  // Only the exceptional path's copy of the finally line (13) ran.
  SnpMethod& read = s.methods[c->methods[1]];
  ASSERT_EQ(read.name, "read");
  size_t last13 = read.lines.size();
  for (size_t k = 0; k < read.lines.size(); k++) {
    if (read.lines[k] == 13) last13 = k;
  }
  ASSERT_LT(last13, read.lines.size());
  read.hits[last13] = 1;
  Counter lines = classCounters(s, *c).line;
  EXPECT_EQ(lines.total(), 8u);
  EXPECT_EQ(lines.covered, 1u);
}

// The match for javac's record methods, on built class files: only the exact
// shape with ObjectMethods.bootstrap is javac's.
TEST(RecordMethods, AreTheObjectMethodsCallAlone) {
  auto build = [](const std::string& name, const std::string& descriptor,
                  const std::string& bootstrapOwner, const std::string& callName,
                  classfile::Bytes code) {
    classfile::TestClass t;
    t.name = "app/P";
    uint16_t owner = t.classRef(bootstrapOwner);
    uint16_t bsmName = t.utf8("bootstrap");
    uint16_t bsmType = t.utf8("()V");
    uint16_t bsmNat = t.add({classfile::kNameAndType, 0, static_cast<uint8_t>(bsmName), 0,
                             static_cast<uint8_t>(bsmType)});
    uint16_t ref = t.add(
        {classfile::kMethodref, 0, static_cast<uint8_t>(owner), 0, static_cast<uint8_t>(bsmNat)});
    uint16_t handle = t.add({classfile::kMethodHandle, 6, 0, static_cast<uint8_t>(ref)});
    uint16_t callNameIndex = t.utf8(callName);
    uint16_t callType = t.utf8("(Lapp/P;)Ljava/lang/String;");
    uint16_t callNat = t.add({classfile::kNameAndType, 0, static_cast<uint8_t>(callNameIndex), 0,
                              static_cast<uint8_t>(callType)});
    uint16_t indy = t.add({classfile::kInvokeDynamic, 0, 0, 0, static_cast<uint8_t>(callNat)});
    for (uint8_t& b : code) {
      if (b == 0xEE) b = static_cast<uint8_t>(indy);
    }
    classfile::TestMethod m;
    m.access = 0x0011;
    m.name = name;
    m.descriptor = descriptor;
    m.code = code;
    t.methods.push_back(m);
    t.attributes.push_back({"BootstrapMethods", {0, 1, 0, static_cast<uint8_t>(handle), 0, 0}});
    return t.build();
  };
  auto generated = [](const classfile::Bytes& bytes) {
    classfile::ClassFile cf;
    EXPECT_TRUE(classfile::parseClassFile(bytes.data(), bytes.size(), &cf));
    return isGeneratedRecordMethod(cf, cf.methods[0]);
  };
  const std::string objectMethods = "java/lang/runtime/ObjectMethods";
  const classfile::Bytes toString = {0x2a, 0xba, 0, 0xEE, 0, 0, 0xb0};
  EXPECT_TRUE(
      generated(build("toString", "()Ljava/lang/String;", objectMethods, "toString", toString)));
  EXPECT_TRUE(generated(
      build("hashCode", "()I", objectMethods, "hashCode", {0x2a, 0xba, 0, 0xEE, 0, 0, 0xac})));
  EXPECT_TRUE(generated(build("equals", "(Ljava/lang/Object;)Z", objectMethods, "equals",
                              {0x2a, 0x2b, 0xba, 0, 0xEE, 0, 0, 0xac})));
  EXPECT_FALSE(generated(build("toString", "()Ljava/lang/String;",
                               "java/lang/invoke/StringConcatFactory", "toString", toString)))
      << "another bootstrap: the programmer's string concatenation";
  EXPECT_FALSE(
      generated(build("toString", "()Ljava/lang/String;", objectMethods, "hashCode", toString)))
      << "calls for another method";
  EXPECT_FALSE(generated(build("toString", "()Ljava/lang/String;", objectMethods, "toString",
                               {0x2a, 0x57, 0x2a, 0xba, 0, 0xEE, 0, 0, 0xb0})))
      << "more code than the call";
  EXPECT_FALSE(generated(
      build("hashCode", "()J", objectMethods, "hashCode", {0x2a, 0xba, 0, 0xEE, 0, 0, 0xac})));
}

}  // namespace

namespace {

TEST(JavaNames, AreWrittenAsInTheSource) {
  SnpClass helper;
  helper.name = "app/tools/Main$Helper";
  auto name = [&](const std::string& n, const std::string& d) {
    return javaMethodName(helper, method(n, d, 0));
  };
  EXPECT_EQ(name("main", "([Ljava/lang/String;)V"), "main(String[])");
  EXPECT_EQ(name("<init>", "(Lapp/tools/Main;I)V"), "Helper(Main, int)");
  EXPECT_EQ(name("<clinit>", "()V"), "static {...}");
  EXPECT_EQ(name("lambda$main$0", "(Ljava/util/Map$Entry;)Z"), "main: lambda #0(Entry)");
  EXPECT_EQ(name("lambda$new$3", "()V"), "constructor: lambda #3()");
  EXPECT_EQ(name("sum", "([[JDZ)J"), "sum(long[][], double, boolean)");
  EXPECT_EQ(name("odd", "(Lno/end)V"), "odd(Lno/end)V") << "unreadable: shown as held";
  EXPECT_EQ(name("odd", "(Q)V"), "odd(Q)V");
}

}  // namespace
