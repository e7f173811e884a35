#include "tools/snp/csv.h"

#include "tools/snp/report_classes.h"
#include "tools/snp/text.h"

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char ch : text) {
    if (ch == '"') out += '"';
    out += ch;
  }
  return out + "\"";
}

void writeCsv(const Snapshot& s, const std::string& group, std::ostream& out) {
  out << "GROUP,PACKAGE,CLASS,INSTRUCTION_MISSED,INSTRUCTION_COVERED,BRANCH_MISSED,"
         "BRANCH_COVERED,LINE_MISSED,LINE_COVERED,COMPLEXITY_MISSED,COMPLEXITY_COVERED,"
         "METHOD_MISSED,METHOD_COVERED\n";
  HeadlineLines headline(s);
  for (const auto& [package, classes] : classesByPackage(s)) {
    std::string packageName = toUtf8(dottedName(package));
    for (const SnpClass* c : classes) {
      ClassCounters k = headlineCounters(s, *c, headline);
      // JaCoCo names the class within its package, nested ones with their '.'.
      std::string name = toUtf8(dottedName(c->name));
      if (!packageName.empty()) name = name.substr(packageName.size() + 1);
      out << csvField(group) << ',' << csvField(packageName) << ',' << csvField(name) << ",0,0,0,0,"
          << k.line.missed << ',' << k.line.covered << ",0,0," << k.method.missed << ','
          << k.method.covered << '\n';
    }
  }
}
