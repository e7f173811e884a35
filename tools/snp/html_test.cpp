#include "tools/snp/html.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tools/snp/test_support.h"

namespace {

namespace fs = std::filesystem;

Snapshot small() { return loadSnapshot(dataFile("small.snp")); }

SnpClass* mutableClass(Snapshot* s, const std::string& name) {
  return const_cast<SnpClass*>(findClass(*s, name));
}

size_t html(const Snapshot& s, const std::string& out, const std::string& sourceRoot,
            std::vector<std::string>* warnings) {
  HtmlOptions options;
  options.outputDir = out;
  options.sourceRoot = sourceRoot;
  return writeHtml(s, options, warnings);
}

std::vector<std::string> entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Html, AnOldReportIsReplacedWholeAndNothingIsLeftBeside) {
  TempDir dir;
  std::vector<std::string> warnings;
  html(small(), dir.file("report"), "", &warnings);
  // A page of a class the new snapshot no longer has.
  writeBytes(dir.file("report/classes/app.Stale.html"), {'o', 'l', 'd'});
  html(small(), dir.file("report"), "", &warnings);
  EXPECT_FALSE(fs::exists(dir.file("report/classes/app.Stale.html")));
  EXPECT_TRUE(fs::exists(dir.file("report/classes/app.tools.Main.html")));
  EXPECT_EQ(entries(dir.file("report/classes")).size(), 6u);
  // Neither the folder it was built in nor the old one stays.
  EXPECT_EQ(entries(dir.file("")), std::vector<std::string>{"report"});

  // Named with a trailing slash, or through a link: the folder is replaced, the
  // link stays.
  writeBytes(dir.file("report/classes/app.Stale.html"), {'o', 'l', 'd'});
  html(small(), dir.file("report") + "/", "", &warnings);
  EXPECT_FALSE(fs::exists(dir.file("report/classes/app.Stale.html")));
  std::error_code error;
  fs::create_directory_symlink("report", dir.file("current"), error);
  if (error) return;
  writeBytes(dir.file("report/classes/app.Stale.html"), {'o', 'l', 'd'});
  html(small(), dir.file("current"), "", &warnings);
  EXPECT_TRUE(fs::is_symlink(dir.file("current")));
  EXPECT_FALSE(fs::exists(dir.file("report/classes/app.Stale.html")));
  EXPECT_EQ(entries(dir.file("")), (std::vector<std::string>{"current", "report"}));
}

TEST(Html, AFolderHoldingOtherFilesIsLeftAlone) {
  TempDir dir;
  fs::create_directories(dir.file("work/classes"));
  writeBytes(dir.file("work/notes.txt"), {'m', 'i', 'n', 'e'});
  writeBytes(dir.file("work/classes/app.A.html"), {'x'});
  std::vector<std::string> warnings;
  try {
    html(small(), dir.file("work"), "", &warnings);
    FAIL() << "no error";
  } catch (const SnpError& e) {
    EXPECT_STREQ(e.what(),
                 "holds files that are not an snp report: left alone (choose another folder)");
  }
  EXPECT_EQ(readText(dir.file("work/notes.txt")), "mine");
  EXPECT_EQ(entries(dir.file("work")), (std::vector<std::string>{"classes", "notes.txt"}));
  EXPECT_EQ(entries(dir.file("")), std::vector<std::string>{"work"}) << "nothing built beside";
  // An empty folder is taken.
  fs::create_directories(dir.file("empty"));
  EXPECT_EQ(html(small(), dir.file("empty"), "", &warnings), 6u);
}

TEST(Html, OverLongClassNamesGetShortDistinctPageNames) {
  std::string longName = "app/" + std::string(275, 'L');  // 279 characters
  std::string page = pageName(longName);
  EXPECT_EQ(page.size(), kMaxPageStem);
  EXPECT_EQ(page.substr(0, 103), "app." + std::string(99, 'L'));
  EXPECT_EQ(page.substr(103), "~84b317710ab487af");
  EXPECT_NE(pageName(longName + "x"), page);
  EXPECT_EQ(pageName("app/" + std::string(116, 'L')).size(), 120u) << "kept as it is";
  EXPECT_EQ(pageName("app/" + std::string(116, 'L')).find('~'), std::string::npos);

  TempDir dir;
  Snapshot s = small();
  mutableClass(&s, "app/util/Strings")->name = longName;
  mutableClass(&s, "app/Gen")->name = longName + "2";
  std::vector<std::string> warnings;
  EXPECT_EQ(html(s, dir.file("report"), "", &warnings), 6u);
  std::string index = readText(dir.file("report/index.html"));
  EXPECT_NE(index.find("href=\"classes/" + page + ".html\""), std::string::npos);
  EXPECT_TRUE(fs::exists(dir.file("report/classes/" + pageName(longName + "2") + ".html")));
}

TEST(Html, SourcesAreReadOnlyFromInsideTheRoot) {
  TempDir dir;
  // A root with Strings.java linked to a file outside it.
  fs::create_directories(dir.file("src/app/util"));
  writeBytes(dir.file("secret.txt"), {'S', 'E', 'C', 'R', 'E', 'T'});
  std::error_code linked;
  fs::create_symlink(dir.file("secret.txt"), dir.file("src/app/util/Strings.java"), linked);
  fs::copy(dataFile("src/app/NoLines.java"), dir.file("src/app/NoLines.java"));

  Snapshot s = small();
  mutableClass(&s, "app/tools/Main")->sourceName = "../../../../../../../../etc/passwd";
  mutableClass(&s, "app/Gen")->hasSourceName = true;
  mutableClass(&s, "app/Gen")->sourceName = "/" + dir.file("secret.txt");
  std::vector<std::string> warnings;
  html(s, dir.file("report"), dir.file("src"), &warnings);

  std::vector<std::string> expected = {
      "class app.Gen: source app//" + dir.file("secret.txt") +
          " is outside the source root; shown without source",
      "class app.tools.Main: source app/tools/../../../../../../../../etc/passwd is outside the "
      "source root; shown without source"};
  if (!linked) {
    expected.push_back(
        "class app.util.Strings: source app/util/Strings.java is outside the source root; shown "
        "without source");
  }
  std::sort(warnings.begin(), warnings.end());
  EXPECT_EQ(warnings, expected);
  for (const char* page : {"app.tools.Main", "app.Gen", "app.util.Strings"}) {
    std::string text = readText(dir.file(std::string("report/classes/") + page + ".html"));
    EXPECT_EQ(text.find("root:x:"), std::string::npos) << page;
    EXPECT_EQ(text.find("SECRET"), std::string::npos) << page;
  }
  EXPECT_NE(readText(dir.file("report/classes/app.tools.Main.html"))
                .find("Source file outside the source root: not shown."),
            std::string::npos);
  // A source inside the root is still shown.
  EXPECT_NE(readText(dir.file("report/classes/app.NoLines.html")).find("<h2>Source</h2>"),
            std::string::npos);
}

}  // namespace
