#include "runtime/jvmti/main_class.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace cci_jvmti {
namespace {

namespace fs = std::filesystem;

TEST(CciLaunchTarget, AJarIsTheClassPathThatStartsTheCommandSpacesAndAll) {
  LaunchTarget t = launchTarget("hello app.jar one two", "hello app.jar");
  EXPECT_EQ(t.kind, LaunchKind::kJar);
  EXPECT_EQ(t.value, "hello app.jar");
  t = launchTarget("/opt/my app/app.jar", "/opt/my app/app.jar");
  EXPECT_EQ(t.kind, LaunchKind::kJar);
  EXPECT_EQ(t.value, "/opt/my app/app.jar");
  // -cp x.jar app.Main: the class path is a jar, the command is not it.
  t = launchTarget("app.Main x.jar", "x.jar");
  EXPECT_EQ(t.kind, LaunchKind::kClass);
  EXPECT_EQ(t.value, "app.Main");
  t = launchTarget("hello.jarx", "hello.jar");
  EXPECT_EQ(t.kind, LaunchKind::kClass) << "a longer word is not the jar";
}

TEST(CciLaunchTarget, ClassesAndModules) {
  EXPECT_EQ(launchTarget("app.Main a b", ".").value, "app.Main");
  EXPECT_EQ(launchTarget("app.Main", "").kind, LaunchKind::kClass);
  EXPECT_EQ(launchTarget("mod.app/app.Main x", "").value, "app.Main");
  EXPECT_EQ(launchTarget("", "app.jar").kind, LaunchKind::kNone);
}

TEST(CciLaunchTarget, TheSourceLauncherNamesTheFileThatExists) {
  fs::path dir = fs::temp_directory_path() / "cci-launch-target-test" / "my dir";
  fs::create_directories(dir);
  std::ofstream(dir / "Single.java") << "class Single {}";
  std::string file = (dir / "Single.java").string();
  for (const char* launcher : {"jdk.compiler/com.sun.tools.javac.launcher.Main",
                               "jdk.compiler/com.sun.tools.javac.launcher.SourceLauncher"}) {
    LaunchTarget t = launchTarget(std::string(launcher) + " " + file + " x y.java", ".");
    EXPECT_EQ(t.kind, LaunchKind::kSource) << launcher;
    EXPECT_EQ(t.value, file) << launcher;
  }
  LaunchTarget missing =
      launchTarget("jdk.compiler/com.sun.tools.javac.launcher.Main Gone.java a", ".");
  EXPECT_EQ(missing.kind, LaunchKind::kSource);
  EXPECT_EQ(missing.value, "Gone.java");
  fs::remove_all(dir.parent_path());
}

TEST(CciSourceMainClass, TheFirstTopLevelTypeInItsPackage) {
  const char* text = R"(// class Commented {}
/* class Blocked {} */
package demo.tools;

import java.util.*;
import static java.lang.Math.max;

@SuppressWarnings(value = "class Quoted", other = Object.class)
public final class Single<T extends List<String>> {
  class Inner {}
  String s = "class InString";
  String block = """
      class InBlock \""" still in it
      """;
  char c = '"';
  public static void main(String[] args) {}
}
class Other {}
)";
  EXPECT_EQ(sourceMainClass(text, "dir/Single.java"), "demo/tools/Single");
  EXPECT_EQ(sourceMainClass("interface Api {} class Impl implements Api {}", "A.java"), "Api");
  EXPECT_EQ(sourceMainClass("record Point(int x, int y) { public static void main(String[] a) {} }",
                            "P.java"),
            "Point");
  EXPECT_EQ(sourceMainClass("enum Color { RED; public static void main(String[] a) {} }", "C.java"),
            "Color");
  EXPECT_EQ(sourceMainClass("@interface Marker {} class Main {}", "M.java"), "Marker");
}

TEST(CciSourceMainClass, ACompactFileIsNamedAfterTheFile) {
  EXPECT_EQ(sourceMainClass("void main() { System.out.println(\"class X {}\"); }", "dir/Hi.java"),
            "Hi");
  EXPECT_EQ(sourceMainClass("class Helper {}\nint count = 0;\nvoid main() {}\n", "/a/b/Tool.java"),
            "Tool")
      << "top-level members make the file's classes members of the implicit one";
  EXPECT_EQ(sourceMainClass("", "script"), "script");
}

}  // namespace
}  // namespace cci_jvmti
