#include "tools/snp/html.h"

#include <stdio.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <unordered_map>

#include "tools/snp/figures.h"
#include "tools/snp/html_file_page.h"
#include "tools/snp/html_page.h"
#include "tools/snp/output_file.h"
#include "tools/snp/page_writer.h"
#include "tools/snp/report_classes.h"
#include "tools/snp/text.h"

namespace fs = std::filesystem;

namespace {

// Creating files is the report's cost; see page_writer.h.
constexpr unsigned kWriterThreads = 4;

// One page of the report: a source file with every class compiled from it,
// or a class without a source file name on a page of its own.
struct FilePage {
  std::string label;                     // "Main.java", or the class's simple name
  std::string sourcePath;                // "app/tools/Main.java"; "" without a source file
  std::string page;                      // its file name in the package folder
  std::vector<const SnpClass*> classes;  // by name
};

struct PackagePage {
  std::string label;   // "app.tools", "(default package)"
  std::string folder;  // its folder beside index.html
  std::vector<FilePage> files;
};

// A file name in a folder that no other name there takes, ignoring case (some
// file systems do); "index" is the folder's own page.
std::string uniqueStem(const std::string& base, std::set<std::string>* taken) {
  std::string name = base;
  for (int n = 2;; n++) {
    std::string folded = name;
    std::transform(folded.begin(), folded.end(), folded.begin(),
                   [](char ch) { return std::tolower(static_cast<unsigned char>(ch)); });
    if (taken->insert(folded).second) return name;
    name = base + "-" + std::to_string(n);
  }
}

// "default" is a Java keyword, so no package has that name.
std::vector<PackagePage> layout(const Snapshot& s) {
  std::vector<PackagePage> packages;
  std::set<std::string> folders = {"index.html"};
  for (const auto& [package, classes] : classesByPackage(s)) {
    PackagePage p;
    p.label = package.empty() ? "(default package)" : toUtf8(dottedName(package));
    p.folder = uniqueStem(package.empty() ? "default" : pageName(package), &folders);
    std::map<std::string, FilePage> files;  // by label
    for (const SnpClass* c : classes) {
      if (c->hasSourceName) {
        FilePage& f = files[toUtf8(c->sourceName)];
        f.sourcePath = sourcePath(*c);
        f.classes.push_back(c);
      } else {
        // After every source file of that name, so that names stay distinct.
        FilePage& f = files[toUtf8(simpleName(c->name)) + '\x7f' + toUtf8(c->name)];
        f.classes.push_back(c);
      }
    }
    std::set<std::string> pages = {"index"};
    for (auto& [key, f] : files) {
      f.label = f.sourcePath.empty() ? toUtf8(simpleName(f.classes[0]->name)) : key;
      f.page = uniqueStem(pageName(f.sourcePath.empty() ? simpleName(f.classes[0]->name)
                                                        : f.classes[0]->sourceName),
                          &pages) +
               ".html";
      p.files.push_back(std::move(f));
    }
    packages.push_back(std::move(p));
  }
  return packages;
}

// The figures of every class, counted once; three pages show each.
class Figures {
 public:
  explicit Figures(const Snapshot& s) {
    HeadlineLines headline(s);
    for (const SnpClass* c : reportedClasses(s)) rows_[c] = {headline.of(*c), countClass(s, *c)};
  }
  const RowFigures& of(const SnpClass& c) const { return rows_.at(&c); }
  RowFigures of(const FilePage& f) const {
    RowFigures sum;
    for (const SnpClass* c : f.classes) sum.add(of(*c));
    return sum;
  }

 private:
  std::unordered_map<const SnpClass*, RowFigures> rows_;
};

// Where a source file may be read: its path under the source root, when that
// path stays inside the root, also once links are followed. A snapshot is
// input like any other: its source name could be "../../../../etc/passwd".
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

bool readWhole(const fs::path& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

void writeIndex(const Snapshot& s, const HtmlOptions& options,
                const std::vector<PackagePage>& packages, const Figures& figures, HtmlOut* out) {
  pageHead(out, options.title);
  out->raw("<h1>").text(options.title).raw("</h1>\n<p>Snapshot of ");
  out->text(toUtf8(s.signatureText("hostname"))).raw(", ");
  out->text(toUtf8(s.signatureText("timestamp"))).raw("</p>\n");
  if (s.hasSignature("comment")) {
    out->raw("<p>").text(toUtf8(s.signatureText("comment"))).raw("</p>\n");
  }
  out->raw("<table class=\"sortable\" id=\"packages\">\n");
  figureHeader(out, "Package", true);
  out->raw("<tbody>\n");
  RowFigures total;
  size_t classes = 0;
  for (const PackagePage& p : packages) {
    RowFigures sum;
    size_t count = 0;
    for (const FilePage& f : p.files) {
      sum.add(figures.of(f));
      count += f.classes.size();
    }
    HtmlOut name;
    name.raw("<a href=\"").text(p.folder).raw("/index.html\">").text(p.label).raw("</a>");
    figureRow(out, "package", name.str(), sum, static_cast<int64_t>(count));
    total.add(sum);
    classes += count;
  }
  out->raw("</tbody>\n<tfoot>\n");
  figureRow(out, "total", "Total", total, static_cast<int64_t>(classes));
  out->raw("</tfoot>\n</table>\n");
  pageEnd(out);
}

void writePackagePage(const HtmlOptions& options, const PackagePage& p, const Figures& figures,
                      HtmlOut* out) {
  pageHead(out, p.label);
  breadcrumb(out, {{"../index.html", options.title}}, p.label);
  out->raw("<h1>").text(p.label).raw("</h1>\n<table class=\"sortable\" id=\"files\">\n");
  figureHeader(out, "Source file", true);
  out->raw("<tbody>\n");
  RowFigures total;
  size_t classes = 0;
  HtmlOut name;
  for (const FilePage& f : p.files) {
    RowFigures sum = figures.of(f);
    name.clear();
    name.raw("<a href=\"").text(f.page).raw("\">").text(f.label).raw("</a>");
    figureRow(out, "file", name.str(), sum, static_cast<int64_t>(f.classes.size()));
    total.add(sum);
    classes += f.classes.size();
  }
  out->raw("</tbody>\n<tfoot>\n");
  figureRow(out, "total", "Total", total, static_cast<int64_t>(classes));
  out->raw("</tfoot>\n</table>\n<h2>Classes</h2>\n<table class=\"sortable\" id=\"classes\">\n");
  figureHeader(out, "Class", false);
  out->raw("<tbody>\n");
  for (const FilePage& f : p.files) {
    for (size_t k = 0; k < f.classes.size(); k++) {
      const SnpClass& c = *f.classes[k];
      name.clear();
      name.raw("<a href=\"").text(f.page).raw("#class-").number(k).raw("\">");
      name.text(toUtf8(simpleName(c.name))).raw("</a>");
      if (c.fromClassFile) name.raw(kNotLoadedMarker);
      figureRow(out, "class", name.str(), figures.of(c));
    }
  }
  out->raw("</tbody>\n</table>\n");
  pageEnd(out);
}

// Writes index.html and a folder per package into folder; returns the source
// file pages written.
size_t writeReport(const Snapshot& s, const HtmlOptions& options, const fs::path& folder,
                   std::vector<std::string>* warnings) {
  std::vector<PackagePage> packages = layout(s);
  Figures figures(s);
  PageWriter writer(folder.string(), kWriterThreads);
  HtmlOut page;
  size_t written = 0;
  for (const PackagePage& p : packages) {
    std::error_code error;
    fs::create_directory(folder / p.folder, error);
    if (error) throw SnpError("cannot create " + p.folder + ": " + error.message());
    for (const FilePage& f : p.files) {
      FileView view;
      view.package = p.label;
      view.title = options.title;
      view.label = f.label;
      view.classes = f.classes;
      for (const SnpClass* c : f.classes) view.rows.push_back(figures.of(*c));
      std::string source;
      fs::path path;
      SourceAt at = findSource(options.sourceRoot, toUtf8(f.sourcePath), &path);
      if (at == SourceAt::kFound && readWhole(path, &source)) {
        view.source = &source;
      } else if (at == SourceAt::kOutside) {
        warnings->push_back("class " + toUtf8(dottedName(f.classes[0]->name)) + ": source " +
                            toUtf8(f.sourcePath) +
                            " is outside the source root; shown without source");
        view.missing = "Source file outside the source root: not shown.";
      } else {
        view.missing =
            f.sourcePath.empty() ? "No source file name in the class." : "Source file not found.";
      }
      writeFilePage(s, view, &page);
      writer.put(p.folder + "/" + f.page, page.take());
      written++;
    }
    writePackagePage(options, p, figures, &page);
    writer.put(p.folder + "/index.html", page.take());
  }
  writeIndex(s, options, packages, figures, &page);
  writer.put("index.html", page.take());
  writer.finish();
  return written;
}

// An existing folder is replaced only when it holds a report and nothing else:
// index.html and folders of .html pages (a package each; "classes" in reports
// of earlier versions), or nothing at all. Anything else may be someone's work.
bool holdsOnlyAReport(const fs::path& folder) {
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    fs::file_status status = entry.symlink_status();
    if (name == "index.html" && fs::is_regular_file(status)) continue;
    if (!fs::is_directory(status)) return false;
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
