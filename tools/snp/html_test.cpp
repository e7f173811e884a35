#include "tools/snp/html.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tools/snp/html_page.h"
#include "tools/snp/java_highlight.h"
#include "tools/snp/page_writer.h"
#include "tools/snp/report_input.h"
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

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every page of a report, concatenated.
std::string allPages(const std::string& folder) {
  std::string text;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) text += readText(entry.path().string());
  }
  return text;
}

TEST(Html, PagesGoIndexToPackageToSourceFile) {
  TempDir dir;
  std::vector<std::string> warnings;
  // Main.java (Main, Main$Helper), Café.java, Strings.java, NoLines.java, and
  // app.Gen, which has no source file name, on a page of its own.
  EXPECT_EQ(html(small(), dir.file("r"), dataFile("src"), &warnings), 5u);
  EXPECT_EQ(warnings, std::vector<std::string>{});
  EXPECT_EQ(entries(dir.file("r")),
            (std::vector<std::string>{"app", "app.tools", "app.util", "index.html"}));
  EXPECT_EQ(entries(dir.file("r/app.tools")),
            (std::vector<std::string>{"Caf_c3_a9.java.html", "Main.java.html", "index.html"}));
  EXPECT_EQ(entries(dir.file("r/app")),
            (std::vector<std::string>{"Gen.html", "NoLines.java.html", "index.html"}));

  std::string index = readText(dir.file("r/index.html"));
  EXPECT_TRUE(contains(index, "<a href=\"app.tools/index.html\">app.tools</a>"));
  EXPECT_FALSE(contains(allPages(dir.file("r")), "://")) << "nothing external";
  // The headline of every format: 10 of 17 source lines.
  EXPECT_TRUE(contains(index, "<tr class=\"total\"><td>Total</td><td data-v=\"5882\">"));
  EXPECT_TRUE(contains(index, "<td class=\"n lines\" data-v=\"10\">10/17</td>"));

  std::string package = readText(dir.file("r/app.tools/index.html"));
  EXPECT_TRUE(contains(package,
                       "<a href=\"../index.html\">Coverage report</a> &gt; "
                       "<span>app.tools</span>"));
  EXPECT_TRUE(contains(package, "<a href=\"Main.java.html\">Main.java</a>"));
  EXPECT_TRUE(contains(package, "<a href=\"Main.java.html#class-1\">Main$Helper</a>"));
  EXPECT_TRUE(contains(package, "<td class=\"n lines\" data-v=\"8\">8/12</td>")) << "the total";

  std::string main = readText(dir.file("r/app.tools/Main.java.html"));
  EXPECT_TRUE(contains(main, "<a href=\"index.html\">app.tools</a> &gt; <span>Main.java</span>"));
  EXPECT_TRUE(contains(main, "<span id=\"class-1\">Main$Helper</span>"));
  // Lines of both classes coloured; line 6 holds two slots, one run.
  EXPECT_TRUE(contains(main,
                       "<tr id=\"L6\" class=\"part\"><td class=\"n\">6</td><td class=\"n\" "
                       "title=\"2 slots: 4, 0 hits\">4</td>"));
  EXPECT_TRUE(contains(main,
                       "<tr id=\"L12\" class=\"miss\"><td class=\"n\">12</td><td "
                       "class=\"n\">0</td>"));
  EXPECT_TRUE(contains(main,
                       "<tr id=\"L16\" class=\"hit\"><td class=\"n\">16</td><td "
                       "class=\"n\">2147483653</td>"))
      << "Helper's line, its count unsigned";
  EXPECT_TRUE(contains(main, "<tr id=\"L17\" class=\"miss\">"));
  EXPECT_TRUE(contains(main,
                       "<td class=\"code\">      <span class=\"kw\">return</span> <span "
                       "class=\"st\">&quot;h&quot;</span>;</td>"));
  EXPECT_TRUE(contains(main, "<td>Helper(Main)</td>"));
  EXPECT_TRUE(contains(main, "<a href=\"#L15\">15</a>")) << "first line links to the line";

  // Without a source: the lines, and why.
  std::string gen = readText(dir.file("r/app/Gen.html"));
  EXPECT_TRUE(contains(gen, "<p>No source file name in the class.</p>"));
  EXPECT_TRUE(contains(gen,
                       "<tr id=\"L1\" class=\"miss\"><td class=\"n\">1</td><td "
                       "class=\"n\">0</td><td class=\"code\">0/1</td></tr>"));
}

TEST(Html, CodeNeverLoadedOrNotInstrumentedIsMarked) {
  Snapshot s = small();
  // The runtime could not instrument Strings.join (too large once
  // instrumented): the run holds it without slots, its class file with them.
  ClassFileClass file;
  file.origin = "classes/app/util/Strings.class";
  file.name = "app/util/Strings";
  file.hasSourceFile = true;
  file.sourceFile = "Strings.java";
  const SnpClass* strings = findClass(s, "app/util/Strings");
  for (size_t i = 0; i < strings->methods.size(); i++) {
    const SnpMethod& m = s.method(*strings, i);
    file.methods.push_back({m.name, m.signature, static_cast<uint16_t>(m.accessFlags), m.lines});
  }
  SnpMethod& join = s.methods[strings->methods[0]];
  join.lines.clear();
  join.hits.clear();
  join.markedHits.clear();
  ClassFileClass never = file;
  never.origin = "classes/app/util/Never.class";
  never.name = "app/util/Never";
  never.sourceFile = "Never.java";
  never.methods.resize(1);
  never.methods[0].lines = {3, 3};
  std::vector<std::string> warnings;
  addClassFiles({file, never}, &s, &warnings);
  EXPECT_EQ(warnings, std::vector<std::string>{}) << "an uninstrumented method is no difference";
  EXPECT_EQ(s.method(*findClass(s, "app/util/Strings"), 0).uncountedLines,
            (std::vector<int32_t>{4, 5, 6}));

  TempDir dir;
  html(s, dir.file("r"), dataFile("src"), &warnings);
  std::string page = readText(dir.file("r/app.util/Strings.java.html"));
  EXPECT_TRUE(contains(page, "join(String[]) <span class=\"ni\""));
  EXPECT_TRUE(contains(page,
                       "<tr id=\"L5\" class=\"ni\"><td class=\"n\">5</td><td class=\"n\" "
                       "title=\"not instrumented: not counted\">-</td>"));
  std::string index = readText(dir.file("r/index.html"));
  EXPECT_TRUE(contains(index, "<td class=\"n lines\" data-v=\"8\">8/15</td>"))
      << "uncounted lines are not in the headline; Never's line is";
  std::string nl = readText(dir.file("r/app.util/Never.java.html"));
  EXPECT_TRUE(contains(nl, "Never</span> <span class=\"nl\""));
  EXPECT_TRUE(contains(nl, "<p>Source file not found.</p>"));
  EXPECT_TRUE(contains(nl,
                       "<tr id=\"L3\" class=\"miss nl\"><td class=\"n\">3</td><td class=\"n\" "
                       "title=\"2 slots: 0, 0 hits; never loaded\">0</td>"));
  EXPECT_TRUE(
      contains(readText(dir.file("r/app.util/index.html")), "Never</a> <span class=\"nl\""));
}

TEST(Html, JavaIsColouredLineByLineAndEscaped) {
  auto colour = [](const std::vector<std::string>& lines) {
    JavaLexState state = JavaLexState::kCode;
    std::vector<std::string> out;
    for (const std::string& line : lines) {
      HtmlOut html;
      highlightJavaLine(line, &state, &html);
      out.push_back(html.str());
    }
    return out;
  };
  EXPECT_EQ(
      colour({"if (a < b && c) return \"x\\\"<\" + 'q' + '\\'';"}),
      std::vector<std::string>{
          "<span class=\"kw\">if</span> (a &lt; b &amp;&amp; c) <span "
          "class=\"kw\">return</span> <span class=\"st\">&quot;x\\&quot;&lt;&quot;</span> + "
          "<span class=\"st\">&#39;q&#39;</span> + <span class=\"st\">&#39;\\&#39;&#39;</span>;"});
  // A comment and a text block go on over lines; each line's spans close.
  EXPECT_EQ(colour({"int x = 0x1F; /* a", "b */ @Override", "s = \"\"\"", "class \"\"\"; // c"}),
            (std::vector<std::string>{
                "<span class=\"kw\">int</span> x = <span class=\"nu\">0x1F</span>; <span "
                "class=\"cm\">/* a</span>",
                "<span class=\"cm\">b */</span> <span class=\"an\">@Override</span>",
                "s = <span class=\"st\">&quot;&quot;&quot;</span>",
                "<span class=\"st\">class &quot;&quot;&quot;</span>; <span class=\"cm\">// "
                "c</span>"}));
  EXPECT_EQ(colour({"classy café\x01\t"}), std::vector<std::string>{"classy café\xEF\xBF\xBD\t"})
      << "keywords only as whole words; a control character can't be held, a tab can";
}

TEST(Html, AFailedPageStopsTheWritingAndNamesThePage) {
  TempDir dir;
  {
    PageWriter writer(dir.file(""), 2);
    writer.put("a.html", "a");
    writer.put("missing/b.html", "b");
    try {
      for (int k = 0; k < 100; k++) writer.put("c" + std::to_string(k) + ".html", "c");
      writer.finish();
      FAIL() << "no error";
    } catch (const SnpError& e) {
      EXPECT_TRUE(contains(e.what(), "cannot write missing/b.html: ")) << e.what();
    }
    // put may throw while another thread is still writing a.html; the writer
    // lets the pages it has begun end before it goes.
  }
  EXPECT_EQ(readText(dir.file("a.html")), "a");
}

TEST(Html, AnOldReportIsReplacedWholeAndNothingIsLeftBeside) {
  TempDir dir;
  std::vector<std::string> warnings;
  html(small(), dir.file("report"), "", &warnings);
  // A page of a class the new snapshot no longer has, and a report of the
  // earlier layout's folder.
  writeBytes(dir.file("report/app.tools/Stale.java.html"), {'o', 'l', 'd'});
  fs::create_directory(dir.file("report/classes"));
  writeBytes(dir.file("report/classes/app.Stale.html"), {'o', 'l', 'd'});
  html(small(), dir.file("report"), "", &warnings);
  EXPECT_FALSE(fs::exists(dir.file("report/app.tools/Stale.java.html")));
  EXPECT_FALSE(fs::exists(dir.file("report/classes")));
  EXPECT_TRUE(fs::exists(dir.file("report/app.tools/Main.java.html")));
  // Neither the folder it was built in nor the old one stays.
  EXPECT_EQ(entries(dir.file("")), std::vector<std::string>{"report"});

  // Named with a trailing slash, or through a link: the folder is replaced, the
  // link stays.
  writeBytes(dir.file("report/app.tools/Stale.java.html"), {'o', 'l', 'd'});
  html(small(), dir.file("report") + "/", "", &warnings);
  EXPECT_FALSE(fs::exists(dir.file("report/app.tools/Stale.java.html")));
  std::error_code error;
  fs::create_directory_symlink("report", dir.file("current"), error);
  if (error) return;
  writeBytes(dir.file("report/app.tools/Stale.java.html"), {'o', 'l', 'd'});
  html(small(), dir.file("current"), "", &warnings);
  EXPECT_TRUE(fs::is_symlink(dir.file("current")));
  EXPECT_FALSE(fs::exists(dir.file("report/app.tools/Stale.java.html")));
  EXPECT_EQ(entries(dir.file("")), (std::vector<std::string>{"current", "report"}));
}

TEST(Html, AFolderHoldingOtherFilesIsLeftAlone) {
  TempDir dir;
  fs::create_directories(dir.file("work/app"));
  writeBytes(dir.file("work/app/notes.txt"), {'m', 'i', 'n', 'e'});
  writeBytes(dir.file("work/app/A.html"), {'x'});
  std::vector<std::string> warnings;
  try {
    html(small(), dir.file("work"), "", &warnings);
    FAIL() << "no error";
  } catch (const SnpError& e) {
    EXPECT_STREQ(e.what(),
                 "holds files that are not an snp report: left alone (choose another folder)");
  }
  EXPECT_EQ(readText(dir.file("work/app/notes.txt")), "mine");
  EXPECT_EQ(entries(dir.file("work/app")), (std::vector<std::string>{"A.html", "notes.txt"}));
  EXPECT_EQ(entries(dir.file("")), std::vector<std::string>{"work"}) << "nothing built beside";
  // An empty folder is taken.
  fs::create_directories(dir.file("empty"));
  EXPECT_EQ(html(small(), dir.file("empty"), "", &warnings), 5u);
}

TEST(Html, OverLongAndCaseFoldedNamesGetDistinctPageNames) {
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
  // A package of a long name; two packages and two sources that differ in case
  // only (one folder or file on some file systems).
  mutableClass(&s, "app/util/Strings")->name = longName + "/Strings";
  mutableClass(&s, "app/NoLines")->name = "App/NoLines";
  mutableClass(&s, "app/tools/Caf\xc3\xa9")->sourceName = "main.java";
  mutableClass(&s, "app/tools/Main$Helper")->name = "Helper";  // the default package
  std::vector<std::string> warnings;
  EXPECT_EQ(html(s, dir.file("report"), "", &warnings), 6u);
  std::string index = readText(dir.file("report/index.html"));
  EXPECT_TRUE(contains(index, "href=\"" + page + "/index.html\"")) << index;
  EXPECT_TRUE(fs::exists(dir.file("report/" + page + "/Strings.java.html")));
  EXPECT_TRUE(contains(index, "href=\"app-2/index.html\">app</a>")) << "App sorts first";
  EXPECT_TRUE(fs::exists(dir.file("report/app.tools/main.java-2.html")));
  EXPECT_TRUE(contains(index, "<a href=\"default/index.html\">(default package)</a>"));
  EXPECT_TRUE(fs::exists(dir.file("report/default/Main.java.html")));
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
  std::string pages = allPages(dir.file("report"));
  EXPECT_FALSE(contains(pages, "root:x:"));
  EXPECT_FALSE(contains(pages, "SECRET"));
  EXPECT_TRUE(contains(pages, "Source file outside the source root: not shown."));
  // A source inside the root is still shown.
  EXPECT_TRUE(contains(readText(dir.file("report/app/NoLines.java.html")), "<h2>Source</h2>"));
}

}  // namespace
