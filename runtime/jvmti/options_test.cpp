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
  ASSERT_TRUE(
      parseOptions("snapshotAtExit,ignoreShutdown,nostart,verbose,probes=empty,includes=a.*:b.C,"
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

TEST(CciOptions, LiveTakesAnOptionalHostAndPort) {
  Options o;
  std::string error;
  ASSERT_TRUE(parseOptions("snapshotAtExit", &o, &error)) << error;
  EXPECT_FALSE(o.live);
  ASSERT_TRUE(parseOptions("live", &o, &error)) << error;
  EXPECT_TRUE(o.live);
  EXPECT_EQ(o.liveHost, "127.0.0.1");
  EXPECT_EQ(o.livePort, 0);
  ASSERT_TRUE(parseOptions("live=8080", &o, &error)) << error;
  EXPECT_EQ(o.liveHost, "127.0.0.1");
  EXPECT_EQ(o.livePort, 8080);
  ASSERT_TRUE(parseOptions("live=0.0.0.0:65535,snapshotAtExit", &o, &error)) << error;
  EXPECT_EQ(o.liveHost, "0.0.0.0");
  EXPECT_EQ(o.livePort, 65535);
  EXPECT_TRUE(o.snapshotAtExit);
  ASSERT_TRUE(parseOptions("live=build-host.example:0", &o, &error)) << error;
  EXPECT_EQ(o.liveHost, "build-host.example");
  EXPECT_EQ(o.livePort, 0);
  ASSERT_TRUE(parseOptions("live=[::1]:9000", &o, &error)) << error;
  EXPECT_EQ(o.liveHost, "::1");
  EXPECT_EQ(o.livePort, 9000);
}

TEST(CciOptions, MisconfiguredLiveIsNamed) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"live=", "option \"live=\": the port \"\" is not a number from 0 to 65535"},
      {"live=http", "option \"live=http\": the port \"http\" is not a number from 0 to 65535"},
      {"live=65536", "option \"live=65536\": the port \"65536\" is not a number from 0 to 65535"},
      {"live=123456",
       "option \"live=123456\": the port \"123456\" is not a number from 0 to 65535"},
      {"live=-1", "option \"live=-1\": the port \"-1\" is not a number from 0 to 65535"},
      {"live=host:", "option \"live=host:\": the port \"\" is not a number from 0 to 65535"},
      {"live=:80", "option \"live=:80\": the host before \":\" is empty"},
      {"live=::1:80", "option \"live=::1:80\": an IPv6 address is written [ADDRESS]:PORT"},
      {"live=[::1]", "option \"live=[::1]\": an IPv6 address is written [ADDRESS]:PORT"},
      {"live=[]:80", "option \"live=[]:80\": the host between [ and ] is empty"},
      {"live=a/b:80", "option \"live=a/b:80\": the host \"a/b\" is not a host name or an address"},
      {"live=a@b:80", "option \"live=a@b:80\": the host \"a@b\" is not a host name or an address"},
  };
  for (const Case& c : cases) {
    Options o;
    std::string error;
    EXPECT_FALSE(parseOptions(c.text, &o, &error)) << c.text;
    EXPECT_EQ(error, c.message);
  }
}

TEST(CciOptions, PatternsWithSlashesAreRefusedWithTheirDottedForm) {
  Options o;
  std::string error;
  EXPECT_FALSE(parseOptions("snapshotAtExit,includes=app/*", &o, &error));
  EXPECT_EQ(error,
            "includes pattern \"app/*\" has a '/': patterns are dotted class names, as in "
            "includes=app.*");
  EXPECT_FALSE(parseOptions("excludes=a.*:app/gen/Parser", &o, &error));
  EXPECT_EQ(error,
            "excludes pattern \"app/gen/Parser\" has a '/': patterns are dotted class names, as "
            "in excludes=app.gen.Parser");
}

TEST(CciOptions, DestfileAppendsByDefaultAndCarriesTheSession) {
  Options o;
  std::string error;
  ASSERT_TRUE(parseOptions(nullptr, &o, &error));
  EXPECT_EQ(o.destfile, "");
  ASSERT_TRUE(parseOptions("destfile=target/ccover/tests.snp,sessionid=run 7", &o, &error))
      << error;
  EXPECT_EQ(o.destfile, "target/ccover/tests.snp");
  EXPECT_TRUE(o.append);
  EXPECT_EQ(o.sessionId, "run 7");
  ASSERT_TRUE(parseOptions("append=false,destfile=a.snp", &o, &error)) << error;
  EXPECT_FALSE(o.append);
  ASSERT_TRUE(parseOptions("destfile=a.snp,append", &o, &error)) << error;
  EXPECT_TRUE(o.append);
  // Options are parsed afresh: the last text's append=false does not linger.
  ASSERT_TRUE(parseOptions("destfile=a.snp", &o, &error)) << error;
  EXPECT_TRUE(o.append);
}

TEST(CciOptions, DestfileMisconfigurationsAreNamed) {
  Options o;
  std::string error;
  EXPECT_FALSE(parseOptions("destfile=", &o, &error));
  EXPECT_EQ(error, "option \"destfile=\" needs a path");
  EXPECT_FALSE(parseOptions("destfile=a.snp,append=yes", &o, &error));
  EXPECT_EQ(error, "unknown or malformed option \"append=yes\"");
  EXPECT_FALSE(parseOptions("append=false", &o, &error));
  EXPECT_EQ(error, "option \"append\" needs destfile=PATH");
  EXPECT_FALSE(parseOptions("snapshotAtExit,sessionid=x", &o, &error));
  EXPECT_EQ(error, "option \"sessionid\" needs destfile=PATH");
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

TEST(CciOptions, CountingIsInlineUnlessExactIsAsked) {
  Options o;
  std::string error;
  ASSERT_TRUE(parseOptions("", &o, &error)) << error;
  EXPECT_TRUE(o.inlineCounting);
  ASSERT_TRUE(parseOptions("counting=exact", &o, &error)) << error;
  EXPECT_FALSE(o.inlineCounting);
  Options again;
  ASSERT_TRUE(parseOptions("counting=exact,counting=inline", &again, &error)) << error;
  EXPECT_TRUE(again.inlineCounting);
  EXPECT_FALSE(parseOptions("counting=fast", &o, &error));
  EXPECT_EQ(error, "unknown or malformed option \"counting=fast\"");
  EXPECT_FALSE(parseOptions("counting", &o, &error));
}

TEST(CciOptions, CounterStartTakesAThirtyTwoBitCount) {
  Options o;
  std::string error;
  EXPECT_EQ(o.counterStart, 0u);
  ASSERT_TRUE(parseOptions("counterStart=4294967295", &o, &error)) << error;
  EXPECT_EQ(o.counterStart, 4294967295u);
  for (const char* bad : {"counterStart=4294967296", "counterStart=-1",
                          "counterStart=", "counterStart=12x", "counterStart= 5", "counterStart"}) {
    EXPECT_FALSE(parseOptions(bad, &o, &error)) << bad;
  }
  EXPECT_FALSE(parseOptions("counterStart=-1", &o, &error));
  EXPECT_EQ(error, "option \"counterStart=-1\": the start is a count from 0 to 4294967295");
}

}  // namespace
}  // namespace cci_jvmti
