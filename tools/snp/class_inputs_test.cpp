// --classes and several snapshots: class files read from folders and jars as
// the runtime describes them, added to the report input, and every format
// giving the same headline.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "classfile/test_class.h"
#include "tools/snp/check.h"
#include "tools/snp/class_files.h"
#include "tools/snp/cobertura.h"
#include "tools/snp/command.h"
#include "tools/snp/csv.h"
#include "tools/snp/inflate.h"
#include "tools/snp/jacoco.h"
#include "tools/snp/lcov.h"
#include "tools/snp/report_classes.h"
#include "tools/snp/report_input.h"
#include "tools/snp/summary.h"
#include "tools/snp/test_support.h"
#include "tools/snp/zip_reader.h"

namespace {

using classfile::Bytes;
using classfile::TestClass;
using classfile::TestMethod;

Snapshot small() { return loadSnapshot(dataFile("small.snp")); }

// A class file whose methods have, slot for slot, the line tables the
// snapshot holds for `c`: one nop per slot, then a return.
Bytes classFileOf(const Snapshot& s, const SnpClass& c) {
  TestClass t;
  t.name = c.name;
  t.access = static_cast<uint16_t>(c.accessFlags);
  for (size_t i = 0; i < c.methods.size(); i++) {
    const SnpMethod& m = s.method(c, i);
    TestMethod tm;
    tm.access = static_cast<uint16_t>(m.accessFlags);
    tm.name = m.name;
    tm.descriptor = m.signature;
    tm.hasCode = (m.accessFlags & (kAccAbstract | kAccNative)) == 0;
    for (size_t k = 0; k < m.lines.size(); k++) {
      tm.code.push_back(classfile::kNop);
      tm.lines.push_back({static_cast<uint16_t>(k), static_cast<uint16_t>(m.lines[k])});
    }
    tm.code.push_back(0xb1);  // return
    t.methods.push_back(tm);
  }
  if (c.hasSourceName) {
    uint16_t index = t.utf8(c.sourceName);
    t.attributes.push_back(
        {"SourceFile", {static_cast<uint8_t>(index >> 8), static_cast<uint8_t>(index)}});
  }
  return t.build();
}

// An interface with a default method (lines 5, 6) and an abstract one.
Bytes shapeInterface(const std::string& name) {
  TestClass t;
  t.name = name;
  t.access = 0x0601;
  TestMethod sides;
  sides.access = 0x0001;
  sides.name = "sides";
  sides.code = {classfile::kNop, 0xb1};
  sides.lines = {{0, 5}, {1, 6}};
  TestMethod area;
  area.access = 0x0401;
  area.name = "area";
  area.hasCode = false;
  t.methods = {sides, area};
  uint16_t source = t.utf8("Polygon.java");
  t.attributes.push_back({"SourceFile", {0, static_cast<uint8_t>(source)}});
  return t.build();
}

void le(std::vector<uint8_t>* out, uint32_t value, int bytes) {
  for (int k = 0; k < bytes; k++) out->push_back(static_cast<uint8_t>(value >> (8 * k)));
}

// A zip of stored entries, as `jar --no-compress` writes one.
std::vector<uint8_t> storedZip(const std::vector<std::pair<std::string, Bytes>>& entries) {
  std::vector<uint8_t> zip, directory;
  for (const auto& [name, bytes] : entries) {
    uint32_t offset = static_cast<uint32_t>(zip.size());
    le(&zip, 0x04034b50, 4);
    le(&zip, 10, 2), le(&zip, 0, 2), le(&zip, 0, 2), le(&zip, 0, 4), le(&zip, 0, 4);
    le(&zip, static_cast<uint32_t>(bytes.size()), 4),
        le(&zip, static_cast<uint32_t>(bytes.size()), 4);
    le(&zip, static_cast<uint32_t>(name.size()), 2), le(&zip, 0, 2);
    zip.insert(zip.end(), name.begin(), name.end());
    zip.insert(zip.end(), bytes.begin(), bytes.end());
    le(&directory, 0x02014b50, 4);
    le(&directory, 20, 2), le(&directory, 10, 2), le(&directory, 0, 2), le(&directory, 0, 2);
    le(&directory, 0, 4), le(&directory, 0, 4);
    le(&directory, static_cast<uint32_t>(bytes.size()), 4);
    le(&directory, static_cast<uint32_t>(bytes.size()), 4);
    le(&directory, static_cast<uint32_t>(name.size()), 2);
    le(&directory, 0, 2), le(&directory, 0, 2), le(&directory, 0, 2), le(&directory, 0, 2);
    le(&directory, 0, 4), le(&directory, offset, 4);
    directory.insert(directory.end(), name.begin(), name.end());
  }
  uint32_t start = static_cast<uint32_t>(zip.size());
  zip.insert(zip.end(), directory.begin(), directory.end());
  le(&zip, 0x06054b50, 4);
  le(&zip, 0, 2), le(&zip, 0, 2);
  le(&zip, static_cast<uint32_t>(entries.size()), 2),
      le(&zip, static_cast<uint32_t>(entries.size()), 2);
  le(&zip, static_cast<uint32_t>(directory.size()), 4), le(&zip, start, 4), le(&zip, 0, 2);
  return zip;
}

// "file: what" of the FileError that reading the paths throws; "" when none.
std::string failureOf(const std::vector<std::string>& paths) {
  try {
    readClassPaths(paths);
  } catch (const FileError& e) {
    return e.file + ": " + e.what;
  }
  return "";
}

TEST(Inflate, DecodesFixedAndStoredBlocksToTheDeclaredSize) {
  // zlib's raw deflate of "abcabcabcabc" (a fixed-code block with a match).
  const uint8_t fixed[] = {0x4b, 0x4c, 0x4a, 0x4e, 0x84, 0x21, 0x00};
  std::vector<uint8_t> out;
  std::string error;
  ASSERT_TRUE(inflateRaw(fixed, sizeof fixed, 12, &out, &error)) << error;
  EXPECT_EQ(std::string(out.begin(), out.end()), "abcabcabcabc");
  EXPECT_FALSE(inflateRaw(fixed, sizeof fixed, 11, &out, &error));
  EXPECT_EQ(error, "more bytes than the entry declares");
  EXPECT_FALSE(inflateRaw(fixed, sizeof fixed, 13, &out, &error));
  EXPECT_EQ(error, "fewer bytes than the entry declares");
  EXPECT_FALSE(inflateRaw(fixed, 3, 12, &out, &error));
  EXPECT_EQ(error, "the stream ends early");
  const uint8_t stored[] = {0x01, 0x03, 0x00, 0xfc, 0xff, 'x', 'y', 'z'};
  ASSERT_TRUE(inflateRaw(stored, sizeof stored, 3, &out, &error)) << error;
  EXPECT_EQ(std::string(out.begin(), out.end()), "xyz");
  const uint8_t badLength[] = {0x01, 0x03, 0x00, 0xfc, 0xfe, 'x', 'y', 'z'};
  EXPECT_FALSE(inflateRaw(badLength, sizeof badLength, 3, &out, &error));
  const uint8_t badType[] = {0x07};
  EXPECT_FALSE(inflateRaw(badType, sizeof badType, 3, &out, &error));
  EXPECT_EQ(error, "an invalid block type");
}

TEST(ClassFiles, AreDescribedByTheRuntimesRules) {
  Bytes bytes = shapeInterface("app/Polygon");
  ClassFileClass c;
  bool skipped = true;
  std::string error;
  ASSERT_TRUE(describeClassFile(bytes.data(), bytes.size(), &c, &skipped, &error)) << error;
  EXPECT_FALSE(skipped);
  EXPECT_EQ(c.name, "app/Polygon");
  EXPECT_TRUE(c.isInterface());
  EXPECT_EQ(c.sourceFile, "Polygon.java");
  ASSERT_EQ(c.methods.size(), 2u);
  EXPECT_EQ(c.methods[0].lines, (std::vector<int32_t>{5, 6}));
  EXPECT_TRUE(c.methods[1].lines.empty());
  TestClass info;
  info.name = "app/package-info";
  Bytes packageInfo = info.build();
  ASSERT_TRUE(describeClassFile(packageInfo.data(), packageInfo.size(), &c, &skipped, &error));
  EXPECT_TRUE(skipped) << "the runtime skips package descriptors";
  Bytes cut(bytes.begin(), bytes.begin() + 40);
  EXPECT_FALSE(describeClassFile(cut.data(), cut.size(), &c, &skipped, &error));
  EXPECT_EQ(error, "a malformed class file (its structure can't be read)");
}

// A path as the folder walk spells it: with the system's own separators.
std::string nativePath(const std::string& path) {
  return std::filesystem::path(path).make_preferred().string();
}

TEST(ClassFiles, FoldersAndJarsAreRead) {
  TempDir dir;
  std::filesystem::create_directories(dir.file("classes/app"));
  writeBytes(dir.file("classes/app/Polygon.class"), shapeInterface("app/Polygon"));
  writeBytes(dir.file("classes/app/notes.txt"), {'x'});
  writeBytes(dir.file("lib.jar"), storedZip({{"META-INF/MANIFEST.MF", {'M'}},
                                             {"app/Square.class", shapeInterface("app/Square")},
                                             {"META-INF/versions/11/app/Square.class", {0}}}));
  std::vector<ClassFileClass> classes = readClassPaths({dir.file("classes"), dir.file("lib.jar")});
  ASSERT_EQ(classes.size(), 2u);
  EXPECT_EQ(classes[0].name, "app/Polygon");
  EXPECT_EQ(classes[0].origin, nativePath(dir.file("classes/app/Polygon.class")));
  EXPECT_EQ(classes[1].name, "app/Square");
  EXPECT_EQ(classes[1].origin, dir.file("lib.jar") + "!/app/Square.class");
}

TEST(ClassFiles, BadInputGetsOneLineNamingThePathAndTheReason) {
  TempDir dir;
  EXPECT_EQ(failureOf({dir.file("none")}), dir.file("none") + ": no such file or folder");
  std::filesystem::create_directories(dir.file("empty/sub"));
  EXPECT_EQ(failureOf({dir.file("empty")}),
            dir.file("empty") + ": a folder without class files or jars");
  writeBytes(dir.file("text.jar"), {'n', 'o', 't', ' ', 'a', ' ', 'z', 'i', 'p', '.', '.', '.',
                                    '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.'});
  EXPECT_EQ(failureOf({dir.file("text.jar")}),
            dir.file("text.jar") + ": not a zip file (no end of central directory)");
  writeBytes(dir.file("short.jar"), {'P', 'K'});
  EXPECT_EQ(failureOf({dir.file("short.jar")}),
            dir.file("short.jar") + ": not a zip file (too short)");
  writeBytes(dir.file("garbage.jar"), storedZip({{"app/G.class", {1, 2, 3, 4, 5}}}));
  EXPECT_EQ(failureOf({dir.file("garbage.jar")}),
            dir.file("garbage.jar") + "!/app/G.class: not a class file (no CAFEBABE header)");
  std::filesystem::create_directories(dir.file("bad"));
  Bytes cut = shapeInterface("app/Cut");
  cut.resize(cut.size() - 3);
  writeBytes(dir.file("bad/Cut.class"), cut);
  EXPECT_EQ(failureOf({dir.file("bad")}),
            nativePath(dir.file("bad/Cut.class")) +
                ": a malformed class file (its structure can't be read)");
  // A jar whose central directory points past its end.
  std::vector<uint8_t> broken = storedZip({{"app/Square.class", shapeInterface("app/Square")}});
  broken[broken.size() - 6] = 0xff;
  writeBytes(dir.file("broken.jar"), broken);
  EXPECT_EQ(failureOf({dir.file("broken.jar")}),
            dir.file("broken.jar") + ": a corrupt zip file (central directory outside the file)");
}

TEST(ReportInput, ClassFilesAddWhatTheRunNeverLoadedAndNameWhatDiffers) {
  Snapshot s = small();
  std::vector<ClassFileClass> files(3);
  bool skipped;
  std::string error;
  // The class the run loaded, as it was: nothing to say.
  Bytes same = classFileOf(s, *findClass(s, "app/tools/Main"));
  ASSERT_TRUE(describeClassFile(same.data(), same.size(), &files[0], &skipped, &error)) << error;
  files[0].origin = "Main.class";
  // Strings, with other lines than the run saw.
  SnpClass changed = *findClass(s, "app/util/Strings");
  Snapshot other = s;
  other.methods[changed.methods[0]].lines.assign(other.methods[changed.methods[0]].lines.size(),
                                                 99);
  Bytes differs = classFileOf(other, changed);
  ASSERT_TRUE(describeClassFile(differs.data(), differs.size(), &files[1], &skipped, &error));
  files[1].origin = "Strings.class";
  // An interface the run never loaded.
  Bytes polygon = shapeInterface("app/util/Polygon");
  ASSERT_TRUE(describeClassFile(polygon.data(), polygon.size(), &files[2], &skipped, &error));
  files[2].origin = "Polygon.class";

  std::vector<std::string> warnings;
  addClassFiles(files, &s, &warnings);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0],
            "class app.util.Strings: Strings.class differs from the class the run loaded (other "
            "methods or line slots); reported from the snapshot");
  const SnpClass* added = findClass(s, "app/util/Polygon");
  ASSERT_NE(added, nullptr);
  EXPECT_TRUE(added->fromClassFile);
  EXPECT_EQ(added->kind, SnpKind::kInterface);
  EXPECT_EQ(s.method(*added, 0).hits, (std::vector<uint32_t>{0, 0}));
  std::ostringstream xml;
  writeJacoco(s, "r", xml);
  EXPECT_NE(xml.str().find("<class name=\"app/util/Polygon\" sourcefilename=\"Polygon.java\">\n"
                           "      <method name=\"sides\" desc=\"()V\" line=\"5\">\n"
                           "        <counter type=\"LINE\" missed=\"2\" covered=\"0\"/>"),
            std::string::npos)
      << "a default method that never ran is missed; the abstract one is left out";
  EXPECT_NE(xml.str().find("<counter type=\"LINE\" missed=\"9\" covered=\"10\"/>\n"
                           "  <counter type=\"METHOD\" missed=\"4\""),
            std::string::npos);
}

TEST(ReportInput, TheSameClassFromSeveralLoadersIsOneRowWithCountsAdded) {
  Snapshot s = small();
  const SnpClass* helper = findClass(s, "app/tools/Main$Helper");
  SnpClass copy = *helper;
  copy.id = 500;
  copy.methods.clear();
  for (size_t i = 0; i < helper->methods.size(); i++) {
    SnpMethod m = s.method(*helper, i);
    m.id = 501 + static_cast<int32_t>(i);
    copy.methods.push_back(s.methods.size());
    s.methods.push_back(m);
  }
  std::vector<uint32_t> before = s.method(*helper, 0).hits;
  s.classes.push_back(copy);
  std::vector<std::string> warnings;
  mergeLoaderDuplicates(&s, &warnings);
  EXPECT_TRUE(warnings.empty());
  size_t rows = 0;
  for (const SnpClass* c : reportedClasses(s)) rows += c->name == "app/tools/Main$Helper";
  EXPECT_EQ(rows, 1u);
  const SnpClass* merged = findClass(s, "app/tools/Main$Helper");
  for (size_t k = 0; k < before.size(); k++) {
    EXPECT_EQ(s.method(*merged, 0).hits[k], 2 * before[k]);
  }
}

// covered/total of every format for one input.
struct Totals {
  std::string summary, jacoco, cobertura, csv, lcov;
};

Totals totalsOf(const Snapshot& s) {
  Totals t;
  std::ostringstream summary, jacoco, cobertura, csv, lcov;
  writeSummary(s, SummaryOptions(), summary);
  std::smatch m;
  std::string text = summary.str();
  if (std::regex_search(text, m, std::regex(R"re(Total \(\d+ classes\)\s+\S+\s+(\d+)/(\d+))re"))) {
    t.summary = m[1].str() + "/" + m[2].str();
  }
  writeJacoco(s, "r", jacoco);
  text = jacoco.str();
  if (std::regex_search(
          text, m,
          std::regex(
              R"re(  <counter type="LINE" missed="(\d+)" covered="(\d+)"/>\n  <counter type="METHOD)re"))) {
    t.jacoco = m[2].str() + "/" + std::to_string(std::stoi(m[1]) + std::stoi(m[2]));
  }
  writeCobertura(s, "", cobertura);
  text = cobertura.str();
  if (std::regex_search(text, m, std::regex(R"re(lines-covered="(\d+)" lines-valid="(\d+)")re"))) {
    t.cobertura = m[1].str() + "/" + m[2].str();
  }
  writeCsv(s, "g", csv);
  uint64_t missed = 0, covered = 0;
  std::istringstream rows(csv.str());
  std::string row;
  std::getline(rows, row);
  while (std::getline(rows, row)) {
    std::vector<std::string> cells;
    std::stringstream cellStream(row);
    std::string cell;
    while (std::getline(cellStream, cell, ',')) cells.push_back(cell);
    missed += std::stoull(cells[7]);
    covered += std::stoull(cells[8]);
  }
  t.csv = std::to_string(covered) + "/" + std::to_string(missed + covered);
  writeLcov(s, LcovOptions(), lcov);
  text = lcov.str();
  uint64_t found = 0, hit = 0;
  std::regex counts(R"re(LF:(\d+)\nLH:(\d+))re");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), counts);
       it != std::sregex_iterator(); ++it) {
    found += std::stoull((*it)[1]);
    hit += std::stoull((*it)[2]);
  }
  // LCOV can't hold a class without a source file: app.Gen's 2 missed lines.
  t.lcov = std::to_string(hit) + "/" + std::to_string(found + 2);
  return t;
}

TEST(Headline, EveryFormatGivesTheSameCoveredAndTotalLines) {
  Snapshot s = small();
  for (int withClasses = 0; withClasses < 2; withClasses++) {
    if (withClasses == 1) {
      std::vector<ClassFileClass> files(1);
      bool skipped;
      std::string error;
      Bytes polygon = shapeInterface("app/tools/Polygon");
      ASSERT_TRUE(describeClassFile(polygon.data(), polygon.size(), &files[0], &skipped, &error));
      std::vector<std::string> warnings;
      addClassFiles(files, &s, &warnings);
    }
    Totals t = totalsOf(s);
    std::string expected = withClasses == 0 ? "10/17" : "10/19";
    EXPECT_EQ(t.summary, expected);
    EXPECT_EQ(t.jacoco, expected);
    EXPECT_EQ(t.cobertura, expected);
    EXPECT_EQ(t.csv, expected);
    EXPECT_EQ(t.lcov, expected);
  }
}

TEST(Check, PatternsAndPercentagesAreParsedStrictly) {
  EXPECT_TRUE(globMatches("com.acme.*", "com.acme.Main"));
  EXPECT_TRUE(globMatches("com.acme.*", "com.acme.sub.Main$1"));
  EXPECT_FALSE(globMatches("com.acme.*", "com.acmeX.Main"));
  EXPECT_TRUE(globMatches("*.Ma?n", "com.Main"));
  EXPECT_FALSE(globMatches("*.Ma?n", "com.Maain"));
  EXPECT_TRUE(globMatches("*", ""));
  ClassRule rule;
  std::string error;
  ASSERT_TRUE(parseClassRule("com/acme/*=90.5", &rule, &error));
  EXPECT_EQ(rule.pattern, "com.acme.*");
  EXPECT_EQ(rule.percent, 90.5);
  EXPECT_FALSE(parseClassRule("com.acme.*", &rule, &error));
  EXPECT_EQ(error, "'com.acme.*' is not PATTERN=PERCENT (com.acme.*=90)");
  double value;
  EXPECT_FALSE(parsePercent("80%", &value, &error));
  EXPECT_FALSE(parsePercent("101", &value, &error));
  EXPECT_FALSE(parsePercent("nan", &value, &error));
  EXPECT_EQ(error, "'nan' is not a percentage from 0 to 100");
}

TEST(Check, ListsWhatFellShort) {
  Snapshot s = small();
  CheckRules rules;
  rules.hasLine = true;
  rules.line = 58.82;  // 10/17 is 58.8235...
  rules.hasMethod = true;
  rules.method = 71;  // 7/10
  rules.classes = {{"app.tools.*", 60}, {"nothing.*", 10}};
  std::vector<std::string> passed;
  std::vector<std::string> failed = checkThresholds(s, rules, &passed);
  EXPECT_EQ(passed, (std::vector<std::string>{"line coverage 58.82% (10/17) meets 58.82%"}));
  EXPECT_EQ(failed,
            (std::vector<std::string>{
                "method coverage 70.00% (7/10) is below 71%",
                "class app.tools.Café: line coverage 50.00% (1/2) is below 60% (app.tools.*)",
                "no class matches nothing.*"}));
  rules.line = 58.83;
  EXPECT_EQ(checkThresholds(s, rules, &passed)[0], "line coverage 58.82% (10/17) is below 58.83%");
}

}  // namespace
