#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "tools/snp/cobertura.h"
#include "tools/snp/html.h"
#include "tools/snp/jacoco.h"
#include "tools/snp/lcov.h"
#include "tools/snp/summary.h"
#include "tools/snp/test_support.h"
#include "tools/snp/text.h"

namespace {

Snapshot small() { return loadSnapshot(dataFile("small.snp")); }

TEST(Lcov, CommittedSnapshotGivesTheGoldenTracefile) {
  std::ostringstream out;
  EXPECT_EQ(writeLcov(small(), LcovOptions(), out), 1u) << "app/Gen has no source file name";
  EXPECT_EQ(out.str(), readText(dataFile("small.info")));
}

TEST(Lcov, OneDaPerLineWithTheLargestSlotCount) {
  std::ostringstream out;
  writeLcov(small(), LcovOptions(), out);
  std::string text = out.str();
  // main() has two slots on line 6, hit 4 and 0 times.
  size_t start = text.find("SF:app/tools/Main.java");
  std::string record = text.substr(start, text.find("end_of_record", start) - start);
  EXPECT_NE(record.find("DA:5,1\nDA:6,4\nDA:7,3\n"), std::string::npos);
  // Main and Main$Helper share one record.
  EXPECT_NE(record.find("DA:16,2147483653\n"), std::string::npos);
  EXPECT_EQ(text.find("SF:app/tools/Main.java"), text.rfind("SF:app/tools/Main.java"));
  EXPECT_NE(text.find("FN:15,Main$Helper.<init>(Lapp/tools/Main;)V"), std::string::npos);
}

TEST(Lcov, SourceRootPrefixesEveryPath) {
  std::ostringstream out;
  LcovOptions options;
  options.sourceRoot = "/src/";
  options.testName = "unit";
  writeLcov(small(), options, out);
  EXPECT_NE(out.str().find("TN:unit\nSF:/src/app/util/Strings.java\n"), std::string::npos);
  EXPECT_EQ(joinPath("a", "b/c"), "a/b/c");
  EXPECT_EQ(joinPath("", "b"), "b");
}

TEST(Jacoco, CountersAddUpAndLinesCountSlots) {
  std::ostringstream out;
  writeJacoco(small(), "small", out);
  std::string xml = out.str();
  EXPECT_EQ(xml.find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE report PUBLIC "
                     "\"-//JACOCO//DTD Report 1.1//EN\" \"report.dtd\">\n<report name=\"small\">"),
            0u);
  // Line 6 of Main.java: two slots, one run.
  EXPECT_NE(xml.find("<line nr=\"6\" mi=\"1\" ci=\"1\" mb=\"0\" cb=\"0\"/>"), std::string::npos);
  // Report totals: the last three counters.
  std::string tail = xml.substr(xml.rfind("</package>"));
  // Source lines: Main.java 10 (7 hit), Strings 3 (2), Café 2 (1), Gen 2 (0).
  EXPECT_NE(tail.find("<counter type=\"LINE\" missed=\"7\" covered=\"10\"/>"), std::string::npos);
  // Methods: 11 in loaded classes, 8 entered; the native Strings.hash0 (entered)
  // has no code to cover, as in JaCoCo.
  EXPECT_NE(tail.find("<counter type=\"METHOD\" missed=\"3\" covered=\"7\"/>"), std::string::npos);
  EXPECT_EQ(xml.find("hash0"), std::string::npos);
  // Classes: 6 loaded, Gen never entered.
  EXPECT_NE(tail.find("<counter type=\"CLASS\" missed=\"1\" covered=\"5\"/>"), std::string::npos);
  EXPECT_NE(xml.find("<method name=\"&lt;init&gt;\" desc=\"()V\" line=\"3\">"), std::string::npos);
  EXPECT_EQ(xml.find("Shape"), std::string::npos)
      << "an interface of abstract methods has nothing to cover";
  EXPECT_EQ(xml.find("Lazy"), std::string::npos) << "nor classes not loaded";
}

TEST(Cobertura, RatesAreCoveredOverValid) {
  std::ostringstream out;
  writeCobertura(small(), "src", out);
  std::string xml = out.str();
  EXPECT_NE(xml.find("<coverage line-rate=\"0.588235\" branch-rate=\"0\" lines-covered=\"10\" "
                     "lines-valid=\"17\""),
            std::string::npos);
  EXPECT_NE(xml.find("<class name=\"app.tools.Main$Helper\" filename=\"app/tools/Main.java\" "
                     "line-rate=\"0.666667\""),
            std::string::npos);
  EXPECT_NE(xml.find("<source>src</source>"), std::string::npos);
  // Lines of classes add up to the top counts.
  std::string classes = xml;
  uint64_t lines = 0, covered = 0;
  std::regex classLines("<class [^>]*>[\\s\\S]*?</methods>\\s*<lines>([\\s\\S]*?)</lines>");
  for (auto it = std::sregex_iterator(xml.begin(), xml.end(), classLines);
       it != std::sregex_iterator(); ++it) {
    std::string body = (*it)[1];
    std::regex line("hits=\"(\\d+)\"");
    for (auto l = std::sregex_iterator(body.begin(), body.end(), line); l != std::sregex_iterator();
         ++l) {
      lines++;
      if ((*l)[1] != "0") covered++;
    }
  }
  EXPECT_EQ(lines, 17u);
  EXPECT_EQ(covered, 10u);
}

TEST(Summary, TableHasARowPerClassAndTotals) {
  std::ostringstream out;
  writeSummary(small(), SummaryOptions(), out);
  EXPECT_EQ(
      out.str(),
      "Class                       Lines  Covered   Slots  Since mark  Slots run  Methods\n"
      "----------------------------------------------------------------------------------\n"
      "app.Gen                     0.00%      0/2   0.00%       0.00%        0/2      0/1\n"
      "app.Lazy               not loaded        -       -           -          -        -\n"
      "app.NoLines                     -      0/0  50.00%      50.00%        0/0      1/2\n"
      "app.tools.Caf\xc3\xa9             50.00%      1/2  50.00%      50.00%        1/2      1/1\n"
      "app.tools.Main             71.42%      5/7  62.50%      62.50%        5/8      2/3\n"
      "app.tools.Main$Helper      66.66%      2/3  66.66%      66.66%        2/3      2/2\n"
      "app.util.Strings           66.66%      2/3  66.66%      66.66%        2/3      2/2\n"
      "----------------------------------------------------------------------------------\n"
      // Source lines: Main.java's line shared by Main and Helper counts once
      // (in Main, first by name), as in every other format: 10/17.
      "Total (7 classes)          58.82%    10/17  55.55%      55.55%      10/18     8/11\n");
}

TEST(Summary, SortsByCoverageAndFilters) {
  SummaryOptions options;
  options.sort = SummaryOptions::Sort::kCoverage;
  options.filter = "app.tools";
  std::ostringstream out;
  writeSummary(small(), options, out);
  std::string text = out.str();
  size_t cafe = text.find("app.tools.Caf");
  size_t main = text.find("app.tools.Main ");
  size_t helper = text.find("app.tools.Main$Helper");
  // By line coverage: 50.00, 66.66, 71.42.
  EXPECT_LT(cafe, helper);
  EXPECT_LT(helper, main);
  EXPECT_EQ(text.find("app.util"), std::string::npos);
  EXPECT_NE(text.find("Total (3 classes)      66.66%     8/12  61.53%"), std::string::npos)
      << text;  // 8 of 13 slots
  options.filter = "app/tools/Main$";
  std::ostringstream helperOnly;
  writeSummary(small(), options, helperOnly);
  EXPECT_NE(helperOnly.str().find("Total (1 class)"), std::string::npos);
}

TEST(Summary, ColoursOnlyWhenAsked) {
  std::ostringstream plain, coloured;
  writeSummary(small(), SummaryOptions(), plain);
  SummaryOptions options;
  options.colour = true;
  writeSummary(small(), options, coloured);
  EXPECT_EQ(plain.str().find('\x1b'), std::string::npos);
  EXPECT_NE(coloured.str().find("\x1b[31m0.00%\x1b[0m"), std::string::npos);
  EXPECT_NE(coloured.str().find("\x1b[33m62.50%\x1b[0m"), std::string::npos);
}

TEST(Reports, AnEmptyTableGivesEmptyReports) {
  TempDir dir;
  Snapshot s = fixture(dir, "empty");
  EXPECT_TRUE(s.classes.empty());
  std::ostringstream summary, lcov, jacoco;
  writeSummary(s, SummaryOptions(), summary);
  EXPECT_NE(summary.str().find(
                "Total (0 classes)      -      0/0      -           -        0/0      0/0"),
            std::string::npos)
      << summary.str();
  EXPECT_EQ(writeLcov(s, LcovOptions(), lcov), 0u);
  EXPECT_EQ(lcov.str(), "");
  writeJacoco(s, "empty", jacoco);
  EXPECT_EQ(jacoco.str().find("<counter"), std::string::npos);
}

TEST(Html, PageNamesAreSafeOnEveryFileSystem) {
  EXPECT_EQ(pageName("app/tools/Main$Helper"), "app.tools.Main$Helper");
  EXPECT_EQ(pageName("app/tools/Caf\xc3\xa9"), "app.tools.Caf_c3_a9");
  EXPECT_EQ(pageName("a/b:c"), "a.b_3ac");
}

TEST(Text, ModifiedUtf8BecomesValidUtf8) {
  EXPECT_EQ(toUtf8("a\xc0\x80z"), std::string("a\0z", 3));
  // U+1F600 as two 3-byte surrogates.
  EXPECT_EQ(toUtf8("\xed\xa0\xbd\xed\xb8\x80"), "\xf0\x9f\x98\x80");
  EXPECT_EQ(toUtf8("\xed\xa0\xbdx"), "\xef\xbf\xbdx") << "a lone surrogate";
  EXPECT_EQ(toUtf8("\xff"), "\xef\xbf\xbd");
  EXPECT_EQ(xmlEscape("<a & \"b\">\x01"), "&lt;a &amp; &quot;b&quot;&gt;\xef\xbf\xbd");
  EXPECT_EQ(jsonQuote(std::string("q\"\0", 3)), "\"q\\\"\\u0000\"");
}

}  // namespace
