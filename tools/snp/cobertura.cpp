#include "tools/snp/cobertura.h"

#include <stdio.h>

#include "merge/timestamp.h"
#include "tools/snp/report_classes.h"
#include "tools/snp/text.h"

namespace {

std::string rate(const Counter& c) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.6g",
           c.total() == 0 ? 1.0 : static_cast<double>(c.covered) / static_cast<double>(c.total()));
  return buf;
}

void writeLines(const LineMap& lines, const char* indent, std::ostream& out) {
  out << indent << "<lines>\n";
  for (const auto& [number, line] : lines) {
    out << indent << "  <line number=\"" << number << "\" hits=\"" << line.hits
        << "\" branch=\"false\"/>\n";
  }
  out << indent << "</lines>\n";
}

}  // namespace

void writeCobertura(const Snapshot& s, const std::string& sourceRoot, std::ostream& out) {
  auto packages = classesByPackage(s);
  HeadlineLines headline(s);
  Counter total = headline.total();
  int64_t seconds = 0;
  if (!parseTimestamp(s.signatureText("timestamp"), &seconds)) seconds = 0;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<!DOCTYPE coverage SYSTEM \"http://cobertura.sourceforge.net/xml/coverage-04.dtd\">\n"
      << "<coverage line-rate=\"" << rate(total) << "\" branch-rate=\"0\" lines-covered=\""
      << total.covered << "\" lines-valid=\"" << total.total()
      << "\" branches-covered=\"0\" branches-valid=\"0\" complexity=\"0\" version=\"snp\" "
         "timestamp=\""
      << seconds * 1000 << "\">\n"
      << "  <sources>\n    <source>" << xmlEscape(toUtf8(sourceRoot.empty() ? "." : sourceRoot))
      << "</source>\n  </sources>\n  <packages>\n";
  for (const auto& [package, classes] : packages) {
    Counter packageLines = headline.sum(classes);
    out << "    <package name=\"" << xmlEscape(toUtf8(dottedName(package))) << "\" line-rate=\""
        << rate(packageLines) << "\" branch-rate=\"0\" complexity=\"0\">\n      <classes>\n";
    for (const SnpClass* c : classes) {
      LineMap lines = classLines(s, *c);
      out << "        <class name=\"" << xmlEscape(toUtf8(dottedName(c->name))) << "\" filename=\""
          << xmlEscape(toUtf8(sourcePath(*c))) << "\" line-rate=\"" << rate(lineCounter(lines))
          << "\" branch-rate=\"0\" complexity=\"0\">\n          <methods>\n";
      for (size_t i = 0; i < c->methods.size(); i++) {
        const SnpMethod& m = s.method(*c, i);
        if (!hasCode(m)) continue;
        LineMap own = methodLines(m);
        out << "            <method name=\"" << xmlEscape(toUtf8(m.name)) << "\" signature=\""
            << xmlEscape(toUtf8(m.signature)) << "\" line-rate=\"" << rate(lineCounter(own))
            << "\" branch-rate=\"0\" complexity=\"0\">\n";
        writeLines(own, "              ", out);
        out << "            </method>\n";
      }
      out << "          </methods>\n";
      writeLines(lines, "          ", out);
      out << "        </class>\n";
    }
    out << "      </classes>\n    </package>\n";
  }
  out << "  </packages>\n</coverage>\n";
}
