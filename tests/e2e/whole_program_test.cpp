// The whole program against JaCoCo: tests/e2e/whole (an interface with
// default and static methods, an enum, a record, try-with-resources, finally,
// lambdas and a class that never loads) runs under JaCoCo 0.8.6 and, in
// another JVM, under ccover. Both then report over the same class files:
// JaCoCo's own XML report, and `snp jacoco --classes` with snp's filters.
// Every source file's lines, each covered or missed, and every class's method
// counts must be the same, except for the differences listed below with their
// reasons.
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>

#include "gtest/gtest.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

// Where snp counts a line, and perhaps a method, that JaCoCo 0.8.6 does not.
struct Difference {
  const char* file;  // package/File.java
  int line;
  const char* className;  // a method too (never run): its class; nullptr for a line only
  const char* reason;
};

// JaCoCo leaves out a private constructor that takes nothing and does nothing
// (a utility class's, written to stop instantiation); snp counts it as any
// method: it is the programmer's code, and missed.
// javac numbers some code of its own with a closing brace's line: the close()
// of a resource on the way out of a try block, the jump over a finally
// block's exceptional copy, and that copy's rethrow. JaCoCo's filters for
// try-with-resources and finally recognise those instruction patterns and
// leave such lines out; snp reports line slots as the class file numbers them.
// (The copies of a finally block's own lines need nothing: a line counts once,
// covered when any copy ran.)
constexpr Difference kDifferences[] = {
    {"whole/Main.java", 9, "whole/Main", "private empty constructor: JaCoCo filters it"},
    {"whole/Never.java", 5, "whole/Never", "private empty constructor: JaCoCo filters it"},
    {"whole/Main.java", 30, nullptr, "the resource's close() on the normal way out"},
    {"whole/Main.java", 32, nullptr, "the jump over, and the rethrow of, finally's copy"},
    {"whole/Main.java", 46, nullptr, "the rethrow at the end of finally's exceptional copy"},
};

struct Report {
  std::map<std::string, std::map<int, bool>> lines;      // file -> line -> covered
  std::map<std::string, std::pair<long, long>> methods;  // class -> missed, covered
  std::pair<long, long> total{-1, -1};                   // report's LINE counter
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string attribute(const std::string& tag, const char* name) {
  std::string key = std::string(" ") + name + "=\"";
  size_t at = tag.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  return tag.substr(at, tag.find('"', at) - at);
}

// Reads the parts of a JaCoCo XML report that both writers give: lines per
// source file, METHOD counters per class, the report's LINE counter.
Report readReport(const std::string& xml) {
  Report r;
  std::string package, file, cls;
  bool inMethod = false;
  for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
    std::string tag = xml.substr(at, xml.find('>', at) - at);
    std::string name = tag.substr(1, tag.find_first_of(" />", 2) - 1);
    if (name == "package") {
      package = attribute(tag, "name");
    } else if (name == "/package") {
      package.clear();
    } else if (name == "sourcefile") {
      file = package + "/" + attribute(tag, "name");
    } else if (name == "/sourcefile") {
      file.clear();
    } else if (name == "class") {
      cls = attribute(tag, "name");
    } else if (name == "/class") {
      cls.clear();
    } else if (name == "method") {
      inMethod = true;
    } else if (name == "/method") {
      inMethod = false;
    } else if (name == "line" && !file.empty()) {
      r.lines[file][std::stoi(attribute(tag, "nr"))] = std::stol(attribute(tag, "ci")) > 0;
    } else if (name == "counter") {
      std::pair<long, long> counter{std::stol(attribute(tag, "missed")),
                                    std::stol(attribute(tag, "covered"))};
      std::string type = attribute(tag, "type");
      if (type == "METHOD" && !cls.empty() && !inMethod) r.methods[cls] = counter;
      if (type == "LINE" && package.empty()) r.total = counter;
    }
  }
  return r;
}

std::string describeLines(const std::map<int, bool>& lines) {
  std::string text;
  for (const auto& [line, covered] : lines) {
    text += " " + std::to_string(line) + (covered ? "+" : "-");
  }
  return text;
}

// Runs whole.Main under one agent, in a folder of its own; the folder.
std::string runUnder(const std::string& agent) {
  std::string dir = makeTempDir("cci-whole");
  std::vector<std::string> argv = {javaPath(), "-Xcheck:jni",     "-Xverify:all", agent,
                                   "-cp",      CCI_E2E_WHOLE_JAR, "whole.Main"};
  ProcessResult run = runProcess(argv, dir);
  EXPECT_EQ(run.exitCode, 0) << describeProcess(argv, run);
  EXPECT_TRUE(complaints(run).empty()) << describeProcess(argv, run);
  return dir;
}

// Each agent in a JVM of its own: under both at once, one would see the
// other's instrumented classes, not the class files the reports read.
TEST(JvmWholeProgram, LinesAndMethodsAgreeWithJacoco) {
  std::string jacocoDir = runUnder(std::string("-javaagent:") + CCI_E2E_JACOCO_WRAPPER +
                                   "=destfile=jacoco.exec,excludes=org.jacoco.*:org.objectweb.*");
  std::string ccoverDir = runUnder("-agentpath:" + runtimeLibrary() + "=snapshotAtExit");
  std::vector<std::string> snapshots = filesEndingWith(ccoverDir, ".snp");
  ASSERT_EQ(snapshots.size(), 1u);

  std::string oursXml = ccoverDir + "/ours.xml";
  std::vector<std::string> ours = {CCI_E2E_SNP,       "jacoco", snapshots[0], "--classes",
                                   CCI_E2E_WHOLE_JAR, "-o",     oursXml};
  ProcessResult written = runProcess(ours, ccoverDir);
  ASSERT_EQ(written.exitCode, 0) << describeProcess(ours, written);
  ASSERT_EQ(written.err, "") << "no warning: every class file is the one the run loaded";
  std::string theirsXml = jacocoDir + "/theirs.xml";
  std::vector<std::string> theirs = {javaPath(),
                                     "-cp",
                                     CCI_E2E_JACOCO_REPORT,
                                     "JacocoReport",
                                     jacocoDir + "/jacoco.exec",
                                     theirsXml,
                                     CCI_E2E_WHOLE_JAR};
  ProcessResult reported = runProcess(theirs, jacocoDir);
  ASSERT_EQ(reported.exitCode, 0) << describeProcess(theirs, reported);

  Report mine = readReport(readFile(oursXml));
  Report jacoco = readReport(readFile(theirsXml));
  ASSERT_EQ(jacoco.lines.size(), 6u) << "every source file, Never.java included";
  std::pair<long, long> documented{0, 0};  // lines only snp counts: missed, covered
  for (const Difference& d : kDifferences) {
    std::string where = std::string(d.file) + ":" + std::to_string(d.line) + " (" + d.reason + ")";
    auto line = mine.lines[d.file].find(d.line);
    ASSERT_NE(line, mine.lines[d.file].end()) << where << ": no longer reported by snp";
    EXPECT_EQ(jacoco.lines[d.file].count(d.line), 0u) << where << ": now reported by JaCoCo";
    (line->second ? documented.second : documented.first)++;
    mine.lines[d.file].erase(line);
    if (d.className != nullptr) mine.methods[d.className].first--;
  }
  EXPECT_EQ(mine.lines, jacoco.lines) << [&] {
    std::string text;
    for (const auto& [file, lines] : jacoco.lines) {
      text += "\n" + file + "\n  JaCoCo:" + describeLines(lines) +
              "\n  snp:   " + describeLines(mine.lines[file]);
    }
    return text;
  }();
  EXPECT_EQ(mine.methods, jacoco.methods);
  // The headline: JaCoCo's total and covered lines, and the documented ones.
  EXPECT_EQ(mine.total.first, jacoco.total.first + documented.first);
  EXPECT_EQ(mine.total.second, jacoco.total.second + documented.second);
  EXPECT_GT(jacoco.total.second, 30);
}

}  // namespace
}  // namespace e2e
