#include "tools/snp/html.h"

#include <stdio.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "tools/snp/figures.h"
#include "tools/snp/lcov.h"
#include "tools/snp/output_file.h"
#include "tools/snp/report_classes.h"
#include "tools/snp/text.h"

namespace fs = std::filesystem;

namespace {

const char kStyle[] =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    ".nl{font-size:80%;color:#fff;background:#888;padding:0 4px;border-radius:3px}"
    "table{border-collapse:collapse}"
    "th,td{padding:2px 8px;text-align:left;border-bottom:1px solid #ddd}"
    "td.n{text-align:right;font-variant-numeric:tabular-nums}"
    "tr.package td{font-weight:bold;background:#f0f0f0}"
    "tr.class td:first-child{padding-left:1.5em}"
    ".bar{display:inline-block;width:120px;height:10px;background:#e05050;vertical-align:middle;"
    "margin-right:6px}"
    ".fill{height:100%;background:#40a040}"
    "table.source td{border:none;padding:0 8px;font-family:monospace;white-space:pre}"
    "tr.hit td.code{background:#d8f5d8}tr.part td.code{background:#fbf3c4}"
    "tr.miss td.code{background:#f8d4d4}";

void head(std::ostream& out, const std::string& title) {
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      << "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
         "style-src 'unsafe-inline'\">\n"
      << "<title>" << xmlEscape(title) << "</title>\n<style>" << kStyle
      << "</style>\n</head>\n<body>\n";
}

// Classes the run never loaded, described from their class files: every
// line is missed because none of it ran, not because it was not measured.
std::string notLoadedMarker(const SnpClass& c) {
  return c.fromClassFile ? " <span class=\"nl\" title=\"never loaded in the run; from its class "
                           "file\">not loaded</span>"
                         : "";
}

void add(ReportCounts* total, const ReportCounts& k) {
  total->slots += k.slots;
  total->executed += k.executed;
  total->methods += k.methods;
  total->entered += k.entered;
  total->invoked += k.invoked;
}

void bar(std::ostream& out, int32_t figure) {
  out << "<td><span class=\"bar\"><span class=\"fill\" style=\"display:block;width:"
      << percentText(figure) << "%\"></span></span>" << percentText(figure) << "%</td>";
}

// The bar is the headline (source lines, as every format counts them); the
// agent's line slots and methods follow.
void figuresRow(std::ostream& out, const char* rowClass, const std::string& nameCell,
                const Counter& lines, const ReportCounts& k) {
  out << "<tr class=\"" << rowClass << "\"><td>" << nameCell << "</td>";
  bar(out, lines.total() == 0 ? 0 : fixedPointFraction(lines.covered, lines.total()));
  out << "<td class=\"n\">" << lines.covered << "/" << lines.total() << "</td>";
  out << "<td class=\"n\">" << k.executed << "/" << k.slots << "</td><td class=\"n\">" << k.entered
      << "/" << k.methods << "</td></tr>\n";
}

const char* lineClass(const LineCount& line) {
  if (line.slotsHit == 0) return "miss";
  return line.slotsHit == line.slots ? "hit" : "part";
}

void writeSource(std::ostream& out, std::ifstream& source, const LineMap& lines) {
  out << "<h2>Source</h2>\n<table "
         "class=\"source\">\n<tr><th>Line</th><th>Hits</th><th>Code</th></tr>\n";
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

void writeLineList(std::ostream& out, const LineMap& lines, const char* note) {
  out << "<h2>Lines</h2>\n<p>" << note << "</p>\n<table class=\"source\">\n"
      << "<tr><th>Line</th><th>Hits</th><th>Slots run</th></tr>\n";
  for (const auto& [number, line] : lines) {
    out << "<tr class=\"" << lineClass(line) << "\"><td class=\"n\">" << number
        << "</td><td class=\"n\">" << line.hits << "</td><td class=\"code\">" << line.slotsHit
        << "/" << line.slots << "</td></tr>\n";
  }
  out << "</table>\n";
}

// Where a class's source file may be read: its path under the source root,
// when that path stays inside the root, also once links are followed. A
// snapshot is input like any other: its source name could be
// "../../../../etc/passwd".
enum class SourceAt { kNone, kFound, kOutside };
SourceAt findSource(const std::string& root, const std::string& source, fs::path* found) {
  if (root.empty() || source.empty()) return SourceAt::kNone;
  // Lexically first: a plain relative path of names, '/' between them.
  if (source.front() == '/' || source.find_first_of(std::string("\\:\0", 3)) != std::string::npos) {
    return SourceAt::kOutside;
  }
  size_t start = 0;
  while (start <= source.size()) {
    size_t slash = std::min(source.find('/', start), source.size());
    std::string part = source.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return SourceAt::kOutside;
    start = slash + 1;
  }
  std::error_code error;
  fs::path rootPath = fs::canonical(fs::path(root), error);
  if (error) return SourceAt::kNone;
  fs::path file = fs::canonical(rootPath / fs::path(source), error);
  if (error) return SourceAt::kNone;
  auto [r, f] = std::mismatch(rootPath.begin(), rootPath.end(), file.begin(), file.end());
  if (r != rootPath.end()) return SourceAt::kOutside;  // a link inside leads out
  *found = file;
  return SourceAt::kFound;
}

void writeClassPage(const Snapshot& s, const SnpClass& c, const HeadlineLines& headline,
                    const HtmlOptions& options, std::ostream& out,
                    std::vector<std::string>* warnings) {
  std::string name = toUtf8(dottedName(c.name));
  head(out, name);
  ReportCounts k = countClass(s, c);
  out << "<p><a href=\"../index.html\">Index</a></p>\n<h1>" << xmlEscape(name) << notLoadedMarker(c)
      << "</h1>\n"
      << "<table>\n<tr><th>Class</th><th>Lines</th><th>Lines covered</th><th>Line slots</th>"
         "<th>Methods</th></tr>\n";
  figuresRow(out, "self", xmlEscape(name), headline.of(c), k);
  out << "</table>\n<h2>Methods</h2>\n<table>\n"
      << "<tr><th>Method</th><th>Entered</th><th>Line slots run</th><th>First line</th></tr>\n";
  for (size_t i = 0; i < c.methods.size(); i++) {
    const SnpMethod& m = s.method(c, i);
    ReportCounts one;
    for (uint32_t h : m.hits) one.executed += h != 0;
    out << "<tr class=\"method\"><td>" << xmlEscape(javaMethodName(c, m)) << "</td><td class=\"n\">"
        << m.invocations << "</td><td class=\"n\">" << one.executed << "/" << m.hits.size()
        << "</td><td class=\"n\">";
    if (!m.lines.empty()) out << firstLine(m);
    out << "</td></tr>\n";
  }
  out << "</table>\n";
  LineMap lines = classLines(s, c);
  std::string source = toUtf8(sourcePath(c));
  fs::path path;
  SourceAt at = findSource(options.sourceRoot, source, &path);
  std::ifstream file;
  if (at == SourceAt::kFound) file.open(path, std::ios::binary);
  if (file.is_open()) {
    writeSource(out, file, lines);
  } else if (at == SourceAt::kOutside) {
    warnings->push_back("class " + name + ": source " + source +
                        " is outside the source root; shown without source");
    writeLineList(out, lines, "Source file outside the source root: not shown.");
  } else {
    writeLineList(out, lines, "Source file not found.");
  }
  out << "</body>\n</html>\n";
}

// A page of the report, created in the folder being built; messages name it by
// its place in the report.
SnpError pageError(const std::string& name, const SnpError& e) {
  std::string why = e.what();
  const std::string prefix = "cannot write: ";
  if (why.compare(0, prefix.size(), prefix) == 0) why = why.substr(prefix.size());
  return SnpError("cannot write " + name + ": " + why);
}

void writePage(const fs::path& folder, const std::string& name,
               const std::function<void(std::ostream&)>& write) {
  std::unique_ptr<OutputFile> out;
  try {
    out = std::make_unique<OutputFile>((folder / name).string(), OutputFile::Mode::kNewFile);
  } catch (const SnpError& e) {
    throw pageError(name, e);
  }
  write(out->stream());
  try {
    out->commit();
  } catch (const SnpError& e) {
    throw pageError(name, e);
  }
}

// Page names that differ only in case would share a file on some systems.
std::map<const SnpClass*, std::string> pageNames(const Snapshot& s) {
  std::map<const SnpClass*, std::string> pages;
  std::set<std::string> taken;
  for (const SnpClass* c : reportedClasses(s)) {
    std::string base = pageName(c->name);
    std::string name = base;
    for (int n = 2;; n++) {
      std::string folded = name;
      std::transform(folded.begin(), folded.end(), folded.begin(),
                     [](char ch) { return std::tolower(static_cast<unsigned char>(ch)); });
      if (taken.insert(folded).second) break;
      name = base + "-" + std::to_string(n);
    }
    pages[c] = name + ".html";
  }
  return pages;
}

// Writes index.html and classes/ into folder; returns the class pages written.
size_t writeReport(const Snapshot& s, const HtmlOptions& options, const fs::path& folder,
                   std::vector<std::string>* warnings) {
  std::error_code error;
  fs::create_directory(folder / "classes", error);
  if (error) throw SnpError("cannot create classes: " + error.message());
  std::map<const SnpClass*, std::string> pages = pageNames(s);
  size_t written = 0;
  writePage(folder, "index.html", [&](std::ostream& index) {
    head(index, options.title);
    std::string host = toUtf8(s.signatureText("hostname"));
    std::string time = toUtf8(s.signatureText("timestamp"));
    index << "<h1>" << xmlEscape(options.title) << "</h1>\n<p>Snapshot of " << xmlEscape(host)
          << ", " << xmlEscape(time) << "</p>\n";
    if (s.hasSignature("comment")) {
      index << "<p>" << xmlEscape(toUtf8(s.signatureText("comment"))) << "</p>\n";
    }
    index << "<table id=\"classes\">\n<thead><tr><th>Package / class</th><th>Lines</th>"
             "<th>Lines covered</th><th>Line slots</th><th>Methods</th></tr></thead>\n<tbody>\n";
    ReportCounts total;
    HeadlineLines headline(s);
    for (const auto& entry : classesByPackage(s)) {
      const std::string& package = entry.first;
      const std::vector<const SnpClass*>& classes = entry.second;
      ReportCounts packageCounts;
      std::vector<ReportCounts> counts;
      for (const SnpClass* c : classes) {
        counts.push_back(countClass(s, *c));
        add(&packageCounts, counts.back());
      }
      add(&total, packageCounts);
      std::string packageName = package.empty() ? "(default package)" : toUtf8(dottedName(package));
      figuresRow(index, "package", xmlEscape(packageName), headline.sum(classes), packageCounts);
      for (size_t i = 0; i < classes.size(); i++) {
        const std::string& page = pages[classes[i]];
        std::string link = "<a href=\"classes/" + xmlEscape(page) + "\">" +
                           xmlEscape(toUtf8(simpleName(classes[i]->name))) + "</a>" +
                           notLoadedMarker(*classes[i]);
        figuresRow(index, "class", link, headline.of(*classes[i]), counts[i]);
        writePage(folder, "classes/" + page, [&](std::ostream& out) {
          writeClassPage(s, *classes[i], headline, options, out, warnings);
        });
        written++;
      }
    }
    index << "</tbody>\n<tfoot>\n";
    figuresRow(index, "total", "Total", headline.total(), total);
    index << "</tfoot>\n</table>\n</body>\n</html>\n";
  });
  return written;
}

// An existing folder is replaced only when it holds a report and nothing else:
// index.html and classes/ with pages in it, or nothing at all. Anything else
// may be someone's work.
bool holdsOnlyAReport(const fs::path& folder) {
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    fs::file_status status = entry.symlink_status();
    if (name == "index.html" && fs::is_regular_file(status)) continue;
    if (name != "classes" || !fs::is_directory(status)) return false;
    for (const fs::directory_entry& page : fs::directory_iterator(entry.path())) {
      std::string file = page.path().filename().string();
      if (!fs::is_regular_file(page.symlink_status()) || file.size() < 5 ||
          file.compare(file.size() - 5, 5, ".html") != 0) {
        return false;
      }
    }
  }
  return true;
}

// A hidden name beside the target, free when made.
fs::path besideTarget(const fs::path& target, const char* role) {
  fs::path parent = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100; attempt++) {
    char suffix[48];
    snprintf(suffix, sizeof suffix, ".snp-%s-%08x%08x", role, random(), random());
    fs::path p = parent / ("." + target.filename().string().substr(0, 64) + suffix);
    std::error_code error;
    if (!fs::exists(fs::symlink_status(p, error))) return p;
  }
  throw SnpError("cannot find a free name beside " + target.string());
}

// The folder the report is built in; removed again unless it was put in place.
class BuildFolder {
 public:
  explicit BuildFolder(const fs::path& target) {
    for (int attempt = 0; attempt < 100 && path_.empty(); attempt++) {
      fs::path p = besideTarget(target, "new");
      std::error_code error;
      if (fs::create_directory(p, error)) path_ = p;
      if (error) throw SnpError("cannot create a folder beside it: " + error.message());
    }
    if (path_.empty()) throw SnpError("cannot create a folder beside it");
  }
  ~BuildFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  void placed() { path_.clear(); }

 private:
  fs::path path_;
};

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
  if (out.size() <= kMaxPageStem) return out;
  // Too long for a file name (255 bytes on most systems, less in a path):
  // a prefix to read, and a hash of the whole name to tell pages apart.
  uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a, 64 bits
  for (char ch : className) {
    hash ^= static_cast<uint8_t>(ch);
    hash *= 0x100000001b3u;
  }
  char tail[20];
  snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(hash));
  return out.substr(0, kMaxPageStem - 17) + tail;
}

size_t writeHtml(const Snapshot& s, const HtmlOptions& options,
                 std::vector<std::string>* warnings) {
  std::error_code error;
  // "report/" and "report" are one folder, and a link to one is followed: the
  // build and old folders are named after the folder's own last part.
  fs::path named = fs::path(options.outputDir).lexically_normal();
  if (named.filename().empty() && named.has_parent_path()) named = named.parent_path();
  fs::path target = fs::absolute(fs::path(followLinks(named.string())), error).lexically_normal();
  if (error) throw SnpError("cannot write: " + error.message());
  if (target.filename().empty()) target = target.parent_path();
  fs::file_status status = fs::status(target, error);
  bool replacing = fs::exists(status);
  if (replacing && !fs::is_directory(status)) throw SnpError("exists and is not a folder");
  if (replacing && !holdsOnlyAReport(target)) {
    throw SnpError("holds files that are not an snp report: left alone (choose another folder)");
  }
  if (!target.parent_path().empty()) {
    fs::create_directories(target.parent_path(), error);
    if (error) {
      throw SnpError("cannot create " + target.parent_path().string() + ": " + error.message());
    }
  }
  BuildFolder built(target);
  size_t written = writeReport(s, options, built.path(), warnings);

  // Swapped in two renames, so the old report is kept until the new one is in
  // place; between them the target is briefly absent.
  fs::path old;
  if (replacing) {
    old = besideTarget(target, "old");
    fs::rename(target, old, error);
    if (error) throw SnpError("cannot replace the old report: " + error.message());
  }
  fs::rename(built.path(), target, error);
  if (error) {
    std::error_code ignored;
    if (replacing) fs::rename(old, target, ignored);
    throw SnpError("cannot put the report in place: " + error.message());
  }
  built.placed();
  if (replacing) fs::remove_all(old, error);
  return written;
}
