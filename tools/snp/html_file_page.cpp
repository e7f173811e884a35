#include "tools/snp/html_file_page.h"

#include <algorithm>

#include "tools/snp/figures.h"
#include "tools/snp/java_highlight.h"
#include "tools/snp/report_classes.h"
#include "tools/snp/text.h"

namespace {

const char kNotInstrumentedMarker[] =
    " <span class=\"ni\" title=\"the runtime could not instrument it (too large once "
    "instrumented): its lines were not counted\">not instrumented</span>";

struct Slot {
  int32_t line;
  uint32_t hits;
  bool notLoaded;  // of a class the run never loaded
};

// A source line with its slots, from every class of the file.
struct FileLine {
  int32_t line = 0;
  size_t first = 0;  // its slots: slots[first, first + count)
  uint32_t count = 0;
  uint32_t hit = 0;
  uint32_t maxHits = 0;
  bool notLoaded = true;   // every slot is of a class never loaded
  bool uncounted = false;  // no slot: a line the runtime could not instrument
};

class FileLines {
 public:
  FileLines(const Snapshot& s, const std::vector<const SnpClass*>& classes) {
    std::vector<int32_t> uncounted;
    for (const SnpClass* c : classes) {
      for (size_t i = 0; i < c->methods.size(); i++) {
        const SnpMethod& m = s.method(*c, i);
        for (size_t k = 0; k < m.lines.size(); k++) {
          if (m.lines[k] >= 1) slots_.push_back({m.lines[k], m.hits[k], c->fromClassFile});
        }
        uncounted.insert(uncounted.end(), m.uncountedLines.begin(), m.uncountedLines.end());
      }
    }
    std::stable_sort(slots_.begin(), slots_.end(),
                     [](const Slot& a, const Slot& b) { return a.line < b.line; });
    for (size_t k = 0; k < slots_.size(); k++) {
      if (lines_.empty() || lines_.back().line != slots_[k].line) {
        lines_.emplace_back();
        lines_.back().line = slots_[k].line;
        lines_.back().first = k;
      }
      FileLine& l = lines_.back();
      l.count++;
      l.hit += slots_[k].hits != 0;
      l.maxHits = std::max(l.maxHits, slots_[k].hits);
      l.notLoaded = l.notLoaded && slots_[k].notLoaded;
    }
    std::sort(uncounted.begin(), uncounted.end());
    uncounted.erase(std::unique(uncounted.begin(), uncounted.end()), uncounted.end());
    for (int32_t line : uncounted) {
      if (line < 1 || find(line) != nullptr) continue;  // counted by another method
      FileLine l;
      l.line = line;
      l.uncounted = true;
      lines_.push_back(l);
    }
    std::sort(lines_.begin(), lines_.end(),
              [](const FileLine& a, const FileLine& b) { return a.line < b.line; });
  }

  const std::vector<FileLine>& lines() const { return lines_; }
  const FileLine* find(int32_t line) const {
    auto it = std::lower_bound(lines_.begin(), lines_.end(), line,
                               [](const FileLine& l, int32_t n) { return l.line < n; });
    return it != lines_.end() && it->line == line ? &*it : nullptr;
  }

  // The row's class, its hits cell and tooltip.
  void cells(const FileLine& l, HtmlOut* out) const {
    const char* state = l.uncounted        ? "ni"
                        : l.hit == 0       ? (l.notLoaded ? "miss nl" : "miss")
                        : l.hit == l.count ? "hit"
                                           : "part";
    out->raw("<tr id=\"L").number(static_cast<uint64_t>(l.line)).raw("\" class=\"").raw(state);
    out->raw("\"><td class=\"n\">").number(static_cast<uint64_t>(l.line)).raw("</td>");
    if (l.uncounted) {
      out->raw("<td class=\"n\" title=\"not instrumented: not counted\">-</td>");
    } else if (l.count > 1) {
      out->raw("<td class=\"n\" title=\"").number(l.count).raw(" slots: ");
      for (uint32_t k = 0; k < l.count; k++) {
        if (k > 0) out->raw(", ");
        out->number(slots_[l.first + k].hits);
      }
      out->raw(" hits").raw(l.notLoaded ? "; never loaded" : "").raw("\">");
      out->number(l.maxHits).raw("</td>");
    } else if (l.notLoaded) {
      out->raw("<td class=\"n\" title=\"never loaded in the run\">0</td>");
    } else {
      out->raw("<td class=\"n\">").number(l.maxHits).raw("</td>");
    }
  }

 private:
  std::vector<Slot> slots_;
  std::vector<FileLine> lines_;
};

void writeSource(const std::string& bytes, const FileLines& lines, HtmlOut* out) {
  out->raw(
      "<h2>Source</h2>\n<table class=\"source\">\n"
      "<thead><tr><th>Line</th><th>Hits</th><th>Code</th></tr></thead>\n<tbody>\n");
  std::string text = toUtf8(bytes);
  JavaLexState state = JavaLexState::kCode;
  int32_t number = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    start = end + 1;
    number++;
    if (const FileLine* l = lines.find(number)) {
      lines.cells(*l, out);
    } else {
      out->raw("<tr id=\"L").number(static_cast<uint64_t>(number)).raw("\"><td class=\"n\">");
      out->number(static_cast<uint64_t>(number)).raw("</td><td></td>");
    }
    out->raw("<td class=\"code\">");
    highlightJavaLine(line, &state, out);
    out->raw("</td></tr>\n");
  }
  out->raw("</tbody>\n</table>\n");
}

void writeLineList(const FileLines& lines, const char* note, HtmlOut* out) {
  out->raw("<h2>Lines</h2>\n<p>").text(note).raw("</p>\n<table class=\"source\">\n");
  out->raw("<thead><tr><th>Line</th><th>Hits</th><th>Slots run</th></tr></thead>\n<tbody>\n");
  for (const FileLine& l : lines.lines()) {
    lines.cells(l, out);
    out->raw("<td class=\"code\">").fraction(l.hit, l.count).raw("</td></tr>\n");
  }
  out->raw("</tbody>\n</table>\n");
}

void writeMethods(const Snapshot& s, const FileView& f, HtmlOut* out) {
  out->raw(
      "<h2>Methods</h2>\n<table class=\"sortable\" id=\"methods\">\n<thead><tr>"
      "<th>Class</th><th>Method</th><th>Entered</th><th>Line slots run</th>"
      "<th>First line</th></tr></thead>\n<tbody>\n");
  for (size_t k = 0; k < f.classes.size(); k++) {
    const SnpClass& c = *f.classes[k];
    std::string simple = toUtf8(simpleName(c.name));
    for (size_t i = 0; i < c.methods.size(); i++) {
      const SnpMethod& m = s.method(c, i);
      if (!hasCode(m)) continue;
      uint32_t run = 0;
      for (uint32_t h : m.hits) run += h != 0;
      out->raw("<tr class=\"method\"><td><a href=\"#class-").number(k).raw("\">").text(simple);
      out->raw("</a></td><td>").text(javaMethodName(c, m));
      if (!m.uncountedLines.empty()) out->raw(kNotInstrumentedMarker);
      out->raw("</td><td class=\"n\" data-v=\"").number(m.invocations).raw("\">");
      out->number(m.invocations).raw("</td><td class=\"n\" data-v=\"").number(run).raw("\">");
      out->fraction(run, m.hits.size()).raw("</td>");
      int32_t first = firstLine(m);
      if (first > 0) {
        out->raw("<td class=\"n\" data-v=\"").number(static_cast<uint64_t>(first));
        out->raw("\"><a href=\"#L").number(static_cast<uint64_t>(first)).raw("\">");
        out->number(static_cast<uint64_t>(first)).raw("</a></td></tr>\n");
      } else {
        out->raw("<td class=\"n\" data-v=\"0\"></td></tr>\n");
      }
    }
  }
  out->raw("</tbody>\n</table>\n");
}

}  // namespace

void writeFilePage(const Snapshot& s, const FileView& f, HtmlOut* out) {
  pageHead(out, f.label);
  breadcrumb(out, {{"../index.html", f.title}, {"index.html", f.package}}, f.label);
  out->raw("<h1>").text(f.label).raw("</h1>\n<table class=\"sortable\" id=\"classes\">\n");
  figureHeader(out, "Class", false);
  out->raw("<tbody>\n");
  RowFigures total;
  HtmlOut name;
  for (size_t k = 0; k < f.classes.size(); k++) {
    name.clear();
    name.raw("<span id=\"class-").number(k).raw("\">");
    name.text(toUtf8(simpleName(f.classes[k]->name))).raw("</span>");
    if (f.classes[k]->fromClassFile) name.raw(kNotLoadedMarker);
    figureRow(out, "class", name.str(), f.rows[k]);
    total.add(f.rows[k]);
  }
  out->raw("</tbody>\n<tfoot>\n");
  figureRow(out, "total", "Total", total);
  out->raw("</tfoot>\n</table>\n");
  writeMethods(s, f, out);
  FileLines lines(s, f.classes);
  if (f.source != nullptr) {
    writeSource(*f.source, lines, out);
  } else {
    writeLineList(lines, f.missing, out);
  }
  pageEnd(out);
}
