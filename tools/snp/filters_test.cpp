#include "tools/snp/filters.h"

#include <gtest/gtest.h>

#include "tools/snp/report_classes.h"
#include "tools/snp/report_input.h"
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
    // Color: <init>, warm, <clinit> (+ values, valueOf, $values);
    // Pick: <init>, of, compareTo(Pick) (+ the bridge compareTo(Object)).
    EXPECT_EQ(classCounters(s, *color).method.total(), filters ? 3u : 6u);
    EXPECT_EQ(classCounters(s, *pick).method.total(), filters ? 3u : 4u);
    bool switchMap = false;
    for (const SnpClass* c : reportedClasses(s)) switchMap |= c->name == "app/gen/Pick$1";
    EXPECT_EQ(switchMap, !filters);
  }
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
