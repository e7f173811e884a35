#include "runtime/jvmti/options.h"

#include "gtest/gtest.h"

namespace cci_jvmti {
namespace {

TEST(CciOptions, NoTextGivesTheDefaults) {
  Options o;
  std::string error;
  ASSERT_TRUE(parseOptions(nullptr, &o, &error));
  EXPECT_FALSE(o.snapshotAtExit);
  EXPECT_FALSE(o.ignoreShutdown);
  EXPECT_TRUE(o.autoStart);
  EXPECT_FALSE(o.emptyProbes);
  EXPECT_TRUE(o.includes.empty());
  EXPECT_TRUE(o.excludes.empty());
}

TEST(CciOptions, FlagsAndValuesAreRead) {
  Options o;
  std::string error;
  ASSERT_TRUE(parseOptions(
      "snapshotAtExit,ignoreShutdown,nostart,verbose,probes=empty,includes=a.*:b.C,"
      "excludes=a.gen.*,home=/opt/cci,ccoverJar=/x/ccover.jar,ccoverLib=/x/lib",
      &o, &error))
      << error;
  EXPECT_TRUE(o.snapshotAtExit);
  EXPECT_TRUE(o.ignoreShutdown);
  EXPECT_FALSE(o.autoStart);
  EXPECT_TRUE(o.verbose);
  EXPECT_TRUE(o.emptyProbes);
  EXPECT_EQ(o.includes, (std::vector<std::string>{"a.*", "b.C"}));
  EXPECT_EQ(o.excludes, (std::vector<std::string>{"a.gen.*"}));
  EXPECT_EQ(o.home, "/opt/cci");
  EXPECT_EQ(o.ccoverJar, "/x/ccover.jar");
  EXPECT_EQ(o.ccoverLib, "/x/lib");
}

TEST(CciOptions, EmptyItemsAndPatternsAreSkipped) {
  Options o;
  std::string error;
  ASSERT_TRUE(parseOptions(",snapshotAtExit,,includes=::a.*:", &o, &error)) << error;
  EXPECT_TRUE(o.snapshotAtExit);
  EXPECT_EQ(o.includes, (std::vector<std::string>{"a.*"}));
}

TEST(CciOptions, UnknownOrMalformedOptionsAreRefused) {
  Options o;
  std::string error;
  EXPECT_FALSE(parseOptions("snapshotatexit", &o, &error));
  EXPECT_EQ(error, "unknown or malformed option \"snapshotatexit\"");
  EXPECT_FALSE(parseOptions("snapshotAtExit=1", &o, &error));
  EXPECT_FALSE(parseOptions("includes", &o, &error));
  EXPECT_FALSE(parseOptions("probes=fast", &o, &error));
  EXPECT_FALSE(parseOptions("home=", &o, &error));
}

TEST(CciWildcard, StarsAndQuestionMarks) {
  EXPECT_TRUE(wildcardMatch("*", "a.b.C"));
  EXPECT_TRUE(wildcardMatch("a.*", "a.b.C"));
  EXPECT_FALSE(wildcardMatch("a.*", "ab.C"));
  EXPECT_TRUE(wildcardMatch("*.C", "a.b.C"));
  EXPECT_FALSE(wildcardMatch("*.C", "a.b.CD"));
  EXPECT_TRUE(wildcardMatch("a.?.C", "a.b.C"));
  EXPECT_FALSE(wildcardMatch("a.?.C", "a.bb.C"));
  EXPECT_TRUE(wildcardMatch("a*b*c", "aXXbYYbc"));
  EXPECT_FALSE(wildcardMatch("a*b*c", "aXXbYYbd"));
  EXPECT_TRUE(wildcardMatch("a.B", "a.B"));
  EXPECT_FALSE(wildcardMatch("a.B", "a.Bc"));
  EXPECT_TRUE(wildcardMatch("**", ""));
  EXPECT_FALSE(wildcardMatch("?", ""));
}

TEST(CciFilter, TheJdkAndTheAgentAreNeverInstrumented) {
  Options o;
  o.includes = {"*"};
  for (const char* name : {"java/lang/String", "javax/swing/JFrame", "jdk/internal/misc/Unsafe",
                           "sun/misc/Unsafe", "com/sun/proxy/$Proxy1", "quorvatix/audit/CoverMain",
                           "quorvatix/cci/Probes", "netscape/util/Vector"}) {
    EXPECT_FALSE(classIncluded(o, name)) << name;
  }
  EXPECT_TRUE(classIncluded(o, "com/example/Main"));
  EXPECT_TRUE(classIncluded(o, "Main"));
  EXPECT_TRUE(classIncluded(o, "javaish/Thing"));  // a prefix of a package is not the package
  EXPECT_TRUE(classIncluded(o, "quorvatix/other/Thing"));
  EXPECT_FALSE(classIncluded(o, ""));
}

TEST(CciFilter, IncludesThenExcludes) {
  Options o;
  o.includes = {"app.*", "lib.Util"};
  o.excludes = {"app.gen.*", "*Test"};
  EXPECT_TRUE(classIncluded(o, "app/Main"));
  EXPECT_TRUE(classIncluded(o, "app/inner/Main$1"));
  EXPECT_TRUE(classIncluded(o, "lib/Util"));
  EXPECT_FALSE(classIncluded(o, "lib/Other"));
  EXPECT_FALSE(classIncluded(o, "app/gen/Parser"));
  EXPECT_FALSE(classIncluded(o, "app/MainTest"));
  EXPECT_FALSE(classIncluded(o, "other/Main"));
}

}  // namespace
}  // namespace cci_jvmti
