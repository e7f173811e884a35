#include "tools/snp/jacoco.h"

#include "merge/timestamp.h"
#include "tools/snp/report_classes.h"
#include "tools/snp/text.h"

namespace {

void writeCounter(const char* type, const Counter& c, const char* indent, std::ostream& out) {
  if (c.total() == 0) return;  // as JaCoCo: only counters that count something
  out << indent << "<counter type=\"" << type << "\" missed=\"" << c.missed << "\" covered=\""
      << c.covered << "\"/>\n";
}

void writeCounters(const ClassCounters& k, const char* indent, std::ostream& out) {
  writeCounter("LINE", k.line, indent, out);
  writeCounter("METHOD", k.method, indent, out);
  writeCounter("CLASS", k.cls, indent, out);
}

void writeClass(const Snapshot& s, const SnpClass& c, const HeadlineLines& headline,
                std::ostream& out) {
  out << "    <class name=\"" << xmlEscape(toUtf8(vmName(c.name))) << '"';
  if (c.hasSourceName) out << " sourcefilename=\"" << xmlEscape(toUtf8(c.sourceName)) << '"';
  out << ">\n";
  for (size_t i = 0; i < c.methods.size(); i++) {
    const SnpMethod& m = s.method(c, i);
    if (!hasCode(m)) continue;  // abstract and native: nothing to cover
    LineMap lines = methodLines(m);
    out << "      <method name=\"" << xmlEscape(toUtf8(m.name)) << "\" desc=\""
        << xmlEscape(toUtf8(m.signature)) << '"';
    if (!lines.empty()) out << " line=\"" << lines.begin()->first << '"';
    out << ">\n";
    Counter method;
    method.add(m.invocations != 0);
    writeCounter("LINE", lineCounter(lines), "        ", out);
    writeCounter("METHOD", method, "        ", out);
    out << "      </method>\n";
  }
  writeCounters(headlineCounters(s, c, headline), "      ", out);
  out << "    </class>\n";
}

}  // namespace

void writeJacoco(const Snapshot& s, const std::string& reportName, std::ostream& out) {
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<!DOCTYPE report PUBLIC \"-//JACOCO//DTD Report 1.1//EN\" \"report.dtd\">\n"
      << "<report name=\"" << xmlEscape(toUtf8(reportName)) << "\">\n";
  int64_t seconds = 0;
  if (parseTimestamp(s.signatureText("timestamp"), &seconds)) {
    std::string id = toUtf8(s.signatureText("hostname"));
    out << "  <sessioninfo id=\"" << xmlEscape(id.empty() ? "snapshot" : id) << "\" start=\""
        << seconds * 1000 << "\" dump=\"" << seconds * 1000 << "\"/>\n";
  }
  ClassCounters report;
  HeadlineLines headline(s);
  for (const auto& [package, classes] : classesByPackage(s)) {
    out << "  <package name=\"" << xmlEscape(toUtf8(package)) << "\">\n";
    ClassCounters packageCounters;
    std::map<std::string, std::vector<const SnpClass*>> sources;
    for (const SnpClass* c : classes) {
      writeClass(s, *c, headline, out);
      packageCounters.add(headlineCounters(s, *c, headline));
      if (c->hasSourceName) sources[c->sourceName].push_back(c);
    }
    for (const auto& [name, owners] : sources) {
      out << "    <sourcefile name=\"" << xmlEscape(toUtf8(name)) << "\">\n";
      LineMap lines;
      ClassCounters fileCounters;
      for (const SnpClass* c : owners) {
        for (size_t i = 0; i < c->methods.size(); i++) addLines(s.method(*c, i), &lines);
        fileCounters.add(headlineCounters(s, *c, headline));
      }
      lines.erase(lines.begin(), lines.lower_bound(1));
      for (const auto& [number, line] : lines) {
        out << "      <line nr=\"" << number << "\" mi=\"" << line.slots - line.slotsHit
            << "\" ci=\"" << line.slotsHit << "\" mb=\"0\" cb=\"0\"/>\n";
      }
      writeCounters(fileCounters, "      ", out);
      out << "    </sourcefile>\n";
    }
    writeCounters(packageCounters, "    ", out);
    out << "  </package>\n";
    report.add(packageCounters);
  }
  writeCounters(report, "  ", out);
  out << "</report>\n";
}
