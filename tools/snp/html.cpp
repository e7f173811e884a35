#include "tools/snp/html.h"

#include <stdio.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "tools/snp/figures.h"
#include "tools/snp/lcov.h"
#include "tools/snp/report_classes.h"
#include "tools/snp/text.h"

namespace {

const char kStyle[] =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "table{border-collapse:collapse}"
    "th,td{padding:2px 8px;text-align:left;border-bottom:1px solid #ddd}"
    "td.n{text-align:right;font-variant-numeric:tabular-nums}"
    "tr.package td{font-weight:bold;background:#f0f0f0}"
    "tr.class td:first-child{padding-left:1.5em}"
    ".bar{display:inline-block;width:120px;height:10px;background:#e05050;vertical-align:middle;margin-right:6px}"
    ".fill{height:100%;background:#40a040}"
    "table.source td{border:none;padding:0 8px;font-family:monospace;white-space:pre}"
    "tr.hit td.code{background:#d8f5d8}tr.part td.code{background:#fbf3c4}"
    "tr.miss td.code{background:#f8d4d4}";

std::ofstream openPage(const std::filesystem::path& path) {
  std::ofstream out(path, std::ios::binary);
  if (!out) throw SnpError("cannot write " + path.string());
  return out;
}

void head(std::ostream& out, const std::string& title) {
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      << "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
         "style-src 'unsafe-inline'\">\n"
      << "<title>" << xmlEscape(title) << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n";
}

// The class's coverage over its slots, or over its methods without slots.
int32_t coverageOf(const ReportCounts& k) {
  if (k.slots > 0) return fixedPointFraction(k.executed, k.slots);
  if (k.methods > 0) return fixedPointFraction(k.invoked, k.methods);
  return 0;
}

void add(ReportCounts* total, const ReportCounts& k) {
  total->slots += k.slots;
  total->executed += k.executed;
  total->methods += k.methods;
  total->entered += k.entered;
  total->invoked += k.invoked;
}

void bar(std::ostream& out, int32_t figure) {
  out << "<td><span class=\"bar\"><span class=\"fill\" style=\"display:block;width:" << percentText(figure)
      << "%\"></span></span>" << percentText(figure) << "%</td>";
}

void figuresRow(std::ostream& out, const char* rowClass, const std::string& nameCell, const ReportCounts& k) {
  out << "<tr class=\"" << rowClass << "\"><td>" << nameCell << "</td>";
  bar(out, coverageOf(k));
  out << "<td class=\"n\">" << k.executed << "/" << k.slots << "</td><td class=\"n\">" << k.entered << "/"
      << k.methods << "</td></tr>\n";
}

const char* lineClass(const LineCount& line) {
  if (line.slotsHit == 0) return "miss";
  return line.slotsHit == line.slots ? "hit" : "part";
}

void writeSource(std::ostream& out, std::ifstream& source, const LineMap& lines) {
  out << "<h2>Source</h2>\n<table class=\"source\">\n<tr><th>Line</th><th>Hits</th><th>Code</th></tr>\n";
  std::string text;
  int32_t number = 0;
  while (std::getline(source, text)) {
    number++;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    auto found = lines.find(number);
    if (found != lines.end()) {
      out << "<tr class=\"" << lineClass(found->second) << "\"><td class=\"n\">" << number
          << "</td><td class=\"n\">" << found->second.hits << "</td>";
    } else {
      out << "<tr><td class=\"n\">" << number << "</td><td></td>";
    }
    out << "<td class=\"code\">" << xmlEscape(toUtf8(text)) << "</td></tr>\n";
  }
  out << "</table>\n";
}

void writeLineList(std::ostream& out, const LineMap& lines) {
  out << "<h2>Lines</h2>\n<p>Source file not found.</p>\n<table class=\"source\">\n"
      << "<tr><th>Line</th><th>Hits</th><th>Slots run</th></tr>\n";
  for (const auto& [number, line] : lines) {
    out << "<tr class=\"" << lineClass(line) << "\"><td class=\"n\">" << number << "</td><td class=\"n\">"
        << line.hits << "</td><td class=\"code\">" << line.slotsHit << "/" << line.slots << "</td></tr>\n";
  }
  out << "</table>\n";
}

void writeClassPage(const Snapshot& s, const SnpClass& c, const HtmlOptions& options,
                    const std::filesystem::path& path) {
  std::ofstream out = openPage(path);
  std::string name = toUtf8(dottedName(c.name));
  head(out, name);
  ReportCounts k = countClass(s, c);
  out << "<p><a href=\"../index.html\">Index</a></p>\n<h1>" << xmlEscape(name) << "</h1>\n"
      << "<table>\n<tr><th>Class</th><th>Coverage</th><th>Line slots</th><th>Methods</th></tr>\n";
  figuresRow(out, "self", xmlEscape(name), k);
  out << "</table>\n<h2>Methods</h2>\n<table>\n"
      << "<tr><th>Method</th><th>Entered</th><th>Line slots run</th><th>First line</th></tr>\n";
  for (size_t i = 0; i < c.methods.size(); i++) {
    const SnpMethod& m = s.method(c, i);
    ReportCounts one;
    for (uint32_t h : m.hits) one.executed += h != 0;
    out << "<tr class=\"method\"><td>" << xmlEscape(methodLabel(m)) << "</td><td class=\"n\">" << m.invocations
        << "</td><td class=\"n\">" << one.executed << "/" << m.hits.size() << "</td><td class=\"n\">";
    if (!m.lines.empty()) out << firstLine(m);
    out << "</td></tr>\n";
  }
  out << "</table>\n";
  LineMap lines = classLines(s, c);
  std::string source = sourcePath(c);
  std::ifstream file;
  if (!options.sourceRoot.empty() && !source.empty()) {
    file.open(std::filesystem::path(joinPath(options.sourceRoot, toUtf8(source))), std::ios::binary);
  }
  if (file.is_open()) {
    writeSource(out, file, lines);
  } else {
    writeLineList(out, lines);
  }
  out << "</body>\n</html>\n";
  if (!out) throw SnpError("cannot write " + path.string());
}

}  // namespace

std::string pageName(const std::string& className) {
  std::string out;
  for (char ch : dottedName(className)) {
    uint8_t b = static_cast<uint8_t>(ch);
    if (std::isalnum(b) || ch == '.' || ch == '_' || ch == '-' || ch == '$') {
      out.push_back(ch);
    } else {
      char buf[4];
      snprintf(buf, sizeof buf, "_%02x", b);
      out += buf;
    }
  }
  return out;
}

size_t writeHtml(const Snapshot& s, const HtmlOptions& options) {
  namespace fs = std::filesystem;
  fs::path root(options.outputDir);
  std::error_code error;
  fs::create_directories(root / "classes", error);
  if (error) throw SnpError("cannot create " + (root / "classes").string() + ": " + error.message());

  // Page names that differ only in case would share a file on some systems.
  std::map<const SnpClass*, std::string> pages;
  std::set<std::string> taken;
  for (const SnpClass* c : reportedClasses(s)) {
    std::string base = pageName(c->name);
    std::string name = base;
    for (int n = 2;; n++) {
      std::string folded = name;
      std::transform(folded.begin(), folded.end(), folded.begin(), [](char ch) { return std::tolower(static_cast<unsigned char>(ch)); });
      if (taken.insert(folded).second) break;
      name = base + "-" + std::to_string(n);
    }
    pages[c] = name + ".html";
  }

  std::ofstream index = openPage(root / "index.html");
  head(index, options.title);
  std::string host = toUtf8(s.signatureText("hostname"));
  std::string time = toUtf8(s.signatureText("timestamp"));
  index << "<h1>" << xmlEscape(options.title) << "</h1>\n<p>Snapshot of " << xmlEscape(host) << ", "
        << xmlEscape(time) << "</p>\n";
  if (s.hasSignature("comment")) index << "<p>" << xmlEscape(toUtf8(s.signatureText("comment"))) << "</p>\n";
  index << "<table id=\"classes\">\n<thead><tr><th>Package / class</th><th>Coverage</th><th>Line slots</th>"
           "<th>Methods</th></tr></thead>\n<tbody>\n";
  ReportCounts total;
  size_t written = 0;
  for (const auto& [package, classes] : classesByPackage(s)) {
    ReportCounts packageCounts;
    std::vector<ReportCounts> counts;
    for (const SnpClass* c : classes) {
      counts.push_back(countClass(s, *c));
      add(&packageCounts, counts.back());
    }
    add(&total, packageCounts);
    figuresRow(index, "package", xmlEscape(package.empty() ? "(default package)" : toUtf8(dottedName(package))),
               packageCounts);
    for (size_t i = 0; i < classes.size(); i++) {
      const std::string& page = pages[classes[i]];
      std::string link = "<a href=\"classes/" + xmlEscape(page) + "\">" +
                         xmlEscape(toUtf8(simpleName(classes[i]->name))) + "</a>";
      figuresRow(index, "class", link, counts[i]);
      writeClassPage(s, *classes[i], options, root / "classes" / page);
      written++;
    }
  }
  index << "</tbody>\n<tfoot>\n";
  figuresRow(index, "total", "Total", total);
  index << "</tfoot>\n</table>\n</body>\n</html>\n";
  if (!index) throw SnpError("cannot write " + (root / "index.html").string());
  return written;
}
