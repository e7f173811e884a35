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

}  // namespace
}  // namespace cci_jvmti
