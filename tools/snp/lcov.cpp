#include "tools/snp/lcov.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "tools/snp/report_classes.h"
#include "tools/snp/text.h"

namespace {

struct Function {
  int32_t line;
  std::string name;
  uint32_t count;
};

}  // namespace

std::string joinPath(const std::string& root, const std::string& path) {
  if (root.empty()) return path;
  if (root.back() == '/' || root.back() == '\\') return root + path;
  return root + "/" + path;
}

size_t writeLcov(const Snapshot& s, const LcovOptions& options, std::ostream& out) {
  size_t withoutSource = 0;
  for (const SnpClass* c : reportedClasses(s)) {
    if (sourcePath(*c).empty()) withoutSource++;
  }
  for (const auto& [path, classes] : classesBySource(s)) {
    std::vector<Function> functions;
    LineMap lines;
    for (const SnpClass* c : classes) {
      std::string owner = toUtf8(simpleName(c->name));
      for (size_t i = 0; i < c->methods.size(); i++) {
        const SnpMethod& m = s.method(*c, i);
        LineMap own = methodLines(m);
        if (own.empty()) continue;
        functions.push_back({own.begin()->first, owner + "." + methodLabel(m), m.invocations});
        for (const auto& [number, line] : own) {
          LineCount& merged = lines[number];
          merged.line = number;
          merged.slots += line.slots;
          merged.slotsHit += line.slotsHit;
          merged.hits = std::max(merged.hits, line.hits);
        }
      }
    }
    if (functions.empty() && lines.empty()) continue;
    std::sort(functions.begin(), functions.end(), [](const Function& a, const Function& b) {
      return std::tie(a.line, a.name) < std::tie(b.line, b.name);
    });
    out << "TN:" << options.testName << '\n';
    out << "SF:" << toUtf8(joinPath(options.sourceRoot, path)) << '\n';
    size_t hitFunctions = 0;
    for (const Function& f : functions) out << "FN:" << f.line << ',' << f.name << '\n';
    for (const Function& f : functions) {
      out << "FNDA:" << f.count << ',' << f.name << '\n';
      if (f.count != 0) hitFunctions++;
    }
    out << "FNF:" << functions.size() << '\n' << "FNH:" << hitFunctions << '\n';
    size_t hitLines = 0;
    for (const auto& [number, line] : lines) {
      out << "DA:" << number << ',' << line.hits << '\n';
      if (line.hits != 0) hitLines++;
    }
    out << "LF:" << lines.size() << '\n' << "LH:" << hitLines << '\n' << "end_of_record\n";
  }
  return withoutSource;
}
