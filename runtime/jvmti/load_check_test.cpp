#include "runtime/jvmti/load_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"

namespace cci_jvmti {
namespace {

namespace fs = std::filesystem;

// A runtime folder laid out as the build lays it out: jvmti/ with the runtime's
// jars, java/ccover.jar and bin/ with the agent library beside it.
class LoadCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("cci-load-check-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    for (const char* jar : kHomeJars) touch("jvmti/" + std::string(jar));
    touch("java/ccover.jar");
    touch("bin/" + platform::libraryFileName("ccover"));
  }
  void TearDown() override { fs::remove_all(root_); }

  void touch(const std::string& relative) {
    fs::path path = root_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
  }
  std::string path(const std::string& relative) const { return (root_ / relative).string(); }
  std::string home() const { return path("jvmti"); }

  fs::path root_;
};

TEST_F(LoadCheckTest, ACompleteLayoutPassesAndFindsTheJavaSideInTheBuildTree) {
  Options o;
  EXPECT_EQ(missingRuntimeFile(o, home(), false), "");
  JavaSidePaths paths = javaSidePaths(o, home());
  EXPECT_EQ(paths.ccoverJar, home() + "/../java/ccover.jar");
  EXPECT_EQ(paths.ccoverLib, home() + "/../bin");
  touch("jvmti/ccover.jar");
  touch("jvmti/" + platform::libraryFileName("ccover"));
  paths = javaSidePaths(o, home());
  EXPECT_EQ(paths.ccoverJar, home() + "/ccover.jar") << "beside the runtime comes first";
  EXPECT_EQ(paths.ccoverLib, home());
}

TEST_F(LoadCheckTest, AMissingJarOfHomeIsNamedWithTheOptionThatChoseIt) {
  Options o;
  o.home = "/nonexistent";
  EXPECT_EQ(missingRuntimeFile(o, "/nonexistent", true),
            "home=/nonexistent holds no cci.jar (/nonexistent/cci.jar): name the folder of "
            "cci.jar");
  fs::remove(path("jvmti/cci.jar"));
  EXPECT_EQ(
      missingRuntimeFile(Options(), home(), true),
      "no cci.jar beside the runtime (" + home() + "/cci.jar): name its folder with home=DIR");
}

TEST_F(LoadCheckTest, TheJavaSideIsCheckedOnlyWhenTheRuntimeStartsIt) {
  Options o;
  o.ccoverJar = "/nonexistent.jar";
  EXPECT_EQ(missingRuntimeFile(o, home(), false), "ccoverJar=/nonexistent.jar: no such file");
  EXPECT_EQ(missingRuntimeFile(o, home(), true), "") << "the launcher brings its own";
  o.autoStart = false;
  EXPECT_EQ(missingRuntimeFile(o, home(), false), "") << "nostart: a host brings it";

  Options lib;
  lib.ccoverLib = path("java");
  EXPECT_EQ(missingRuntimeFile(lib, home(), false),
            "ccoverLib=" + path("java") + " holds no " + platform::libraryFileName("ccover"));
  fs::remove(path("java/ccover.jar"));
  EXPECT_EQ(
      missingRuntimeFile(Options(), home(), false),
      "no ccover.jar beside the runtime (" + home() + "/ccover.jar): name it with ccoverJar=FILE");
}

TEST(CciNoSnapshotWarning, OnlyWhenNothingWillEverWriteOne) {
  Options o;
  EXPECT_NE(noSnapshotWarning(o, false), "");
  EXPECT_EQ(noSnapshotWarning(o, true), "") << "the launcher writes one at exit";
  o.snapshotAtExit = true;
  EXPECT_EQ(noSnapshotWarning(o, false), "");
  Options live;
  live.live = true;
  EXPECT_EQ(noSnapshotWarning(live, false), "") << "the live viewer hands snapshots out";
  Options host;
  host.autoStart = false;
  EXPECT_EQ(noSnapshotWarning(host, false), "") << "a host that starts the agent may write";
  Options dest;
  dest.destfile = "target/ccover.snp";
  EXPECT_EQ(noSnapshotWarning(dest, false), "") << "the runtime writes the destfile";
}

TEST(CciCodesetCanName, WhatSurvivesTheJvmsDecodingOfAPath) {
  const std::string cafe = "/opt/caf\xc3\xa9";  // é in UTF-8
  EXPECT_TRUE(codesetCanName("ANSI_X3.4-1968", "/opt/ccover")) << "ASCII survives any codeset";
  EXPECT_FALSE(codesetCanName("ANSI_X3.4-1968", cafe)) << "the C locale";
  EXPECT_FALSE(codesetCanName("US-ASCII", cafe));
  EXPECT_TRUE(codesetCanName("UTF-8", cafe));
  EXPECT_TRUE(codesetCanName("utf8", cafe)) << "spelled as locale names spell it";
  EXPECT_TRUE(codesetCanName("ISO-8859-1", "/opt/caf\xe9")) << "every byte is a character";
  EXPECT_TRUE(codesetCanName("", cafe)) << "not known: not refused";

  // In UTF-8, bytes that a strict decoder replaces.
  const char* const malformed[] = {
      "/opt/caf\xe9",           // a Latin-1 byte
      "/opt/caf\xc3",           // cut short
      "/opt/\xc0\xaf",          // overlong '/'
      "/opt/\xe0\x80\xaf",      // overlong, three bytes
      "/opt/\xed\xa0\x80",      // a surrogate
      "/opt/\xf4\x90\x80\x80",  // above U+10FFFF
      "/opt/\x80",              // a continuation byte alone
  };
  for (const char* path : malformed) EXPECT_FALSE(codesetCanName("UTF-8", path)) << path;
  EXPECT_TRUE(codesetCanName("UTF-8", "/opt/\xf0\x9f\x99\x82/\xe2\x82\xac"))
      << "four- and three-byte forms";
}

TEST_F(LoadCheckTest, AJavaSidePathTheLocaleCantNameIsNamedWithTheFix) {
  Options o;
  EXPECT_EQ(unreadableJavaSidePath(o, home(), false, "ANSI_X3.4-1968"), "");
  o.ccoverLib = "/opt/caf\xc3\xa9/bin";
  std::string message = unreadableJavaSidePath(o, home(), false, "ANSI_X3.4-1968");
  EXPECT_EQ(message,
            "the path /opt/caf\xc3\xa9/bin holds characters that the JVM can't read in "
            "this locale's encoding (ANSI_X3.4-1968), so it would find no coverage "
            "agent there: run with a UTF-8 locale (e.g. LC_ALL=C.UTF-8), or install "
            "ccover under a path of ASCII characters");
  EXPECT_EQ(unreadableJavaSidePath(o, home(), false, "UTF-8"), "");
  EXPECT_EQ(unreadableJavaSidePath(o, home(), true, "ANSI_X3.4-1968"), "")
      << "the launcher's class path is the user's own";
  o.autoStart = false;
  EXPECT_EQ(unreadableJavaSidePath(o, home(), false, "ANSI_X3.4-1968"), "")
      << "nostart: the runtime hands the JVM no path";
  Options jar;
  jar.ccoverJar = "/opt/caf\xc3\xa9/ccover.jar";
  EXPECT_NE(unreadableJavaSidePath(jar, home(), false, "ANSI_X3.4-1968").find(jar.ccoverJar),
            std::string::npos);
}

}  // namespace
}  // namespace cci_jvmti
