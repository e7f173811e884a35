#include "tools/snp/summary.h"

#include <algorithm>
#include <array>
#include <vector>

#include "tools/snp/figures.h"
#include "tools/snp/report_classes.h"
#include "tools/snp/text.h"

namespace {

const char kBold[] = "\x1b[1m";
const char kReset[] = "\x1b[0m";

// Class; lines covered (the headline, %), covered/total; the agent's own
// figures: slot coverage and since the mark, slots run/slots, methods.
constexpr size_t kColumns = 7;

struct Row {
  std::string name;
  bool loaded = true;
  bool tintAgent = true;                    // the agent's figures exist
  int32_t coverage = 0;                     // fixed point: line coverage; the sort key
  std::array<int32_t, 2> figures = {0, 0};  // lines and the agent's figure, for the colours
  std::array<std::string, kColumns> cells;
};

int32_t lineFigure(const Counter& lines) {
  return lines.total() == 0 ? 0 : fixedPointFraction(lines.covered, lines.total());
}

// Characters, not bytes, so that names outside ASCII line up.
size_t width(const std::string& text) {
  size_t n = 0;
  for (char ch : text) {
    if ((static_cast<uint8_t>(ch) & 0xC0) != 0x80) n++;
  }
  return n;
}

const char* colourOf(int32_t figure) {
  if (figure >= 8000) return "\x1b[32m";
  if (figure >= 5000) return "\x1b[33m";
  return "\x1b[31m";
}

std::string ratio(uint32_t part, uint32_t whole) {
  return std::to_string(part) + "/" + std::to_string(whole);
}

bool matches(const std::string& name, const std::string& prefix) {
  if (prefix.empty()) return true;
  std::string dotted = dottedName(prefix);
  return dottedName(name).compare(0, dotted.size(), dotted) == 0;
}

void writeRow(const std::vector<size_t>& widths, const Row& row, bool colour, bool bold,
              std::ostream& out) {
  for (size_t col = 0; col < kColumns; col++) {
    const std::string& cell = row.cells[col];
    std::string gap(widths[col] - width(cell), ' ');
    // The name left-aligned, the figures right-aligned.
    if (col > 0) out << "  " << gap;
    bool tinted = colour && row.loaded && (col == 1 || (col == 3 && row.tintAgent));
    if (colour && bold) out << kBold;
    if (tinted) out << colourOf(row.figures[col == 1 ? 0 : 1]);
    out << cell;
    if (colour && (bold || tinted)) out << kReset;
    if (col == 0) out << gap;
  }
  out << '\n';
}

}  // namespace

void writeSummary(const Snapshot& s, const SummaryOptions& options, std::ostream& out) {
  HeadlineLines headline(s);
  std::vector<Row> rows;
  ReportCounts total;
  Counter totalLines;
  // Classes the snapshot names but never loaded, unless class files describe them.
  std::vector<const SnpClass*> shown = reportedClasses(s);
  for (const SnpClass& c : s.classes) {
    if (!c.loaded && c.kind == SnpKind::kClass) shown.push_back(&c);
  }
  for (const SnpClass* cp : shown) {
    const SnpClass& c = *cp;
    if (!matches(c.name, options.filter)) continue;
    Row row;
    row.name = toUtf8(dottedName(c.name));
    row.loaded = c.loaded;
    row.cells[0] = row.name;
    if (!c.loaded) {
      row.coverage = -1;
      row.cells[1] = "not loaded";
      for (size_t col = 2; col < kColumns; col++) row.cells[col] = "-";
      rows.push_back(std::move(row));
      continue;
    }
    Counter lines = headline.of(c);
    totalLines.add(lines);
    ReportCounts k = countClass(s, c);
    total.slots += k.slots;
    total.executed += k.executed;
    total.changed += k.changed;
    total.methods += k.methods;
    total.entered += k.entered;
    total.invoked += k.invoked;
    total.invokedSinceMark += k.invokedSinceMark;
    row.coverage = lineFigure(lines);
    row.figures[0] = row.coverage;
    row.cells[1] = lines.total() == 0 ? "-" : percentText(row.coverage) + "%";
    row.cells[2] = ratio(lines.covered, lines.total());
    if (c.kind == SnpKind::kInterface || c.fromClassFile) {
      // The agent keeps no figures for interfaces, nor for classes it never saw.
      row.cells[3] = row.cells[4] = "-";
      row.tintAgent = false;
    } else {
      row.figures[1] = c.coverage;
      row.cells[3] = percentText(c.coverage) + "%";
      row.cells[4] = percentText(c.coverageSinceMark) + "%";
    }
    row.cells[5] = ratio(k.executed, k.slots);
    row.cells[6] = ratio(k.entered, k.methods);
    if (c.fromClassFile) row.cells[6] += " (not loaded)";
    rows.push_back(std::move(row));
  }
  if (options.sort == SummaryOptions::Sort::kCoverage) {
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
      if (a.loaded != b.loaded) return a.loaded;
      if (a.coverage != b.coverage) return a.coverage < b.coverage;
      return a.name < b.name;
    });
  } else {
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.name < b.name; });
  }

  Row header;
  header.cells = {"Class", "Lines", "Covered", "Slots", "Since mark", "Slots run", "Methods"};
  header.loaded = false;

  Row totals;
  totals.cells[0] =
      "Total (" + std::to_string(rows.size()) + (rows.size() == 1 ? " class)" : " classes)");
  totals.figures[0] = lineFigure(totalLines);
  totals.cells[1] = totalLines.total() == 0 ? "-" : percentText(totals.figures[0]) + "%";
  totals.cells[2] = ratio(totalLines.covered, totalLines.total());
  if (total.slots > 0) {
    totals.figures[1] = fixedPointFraction(total.executed, total.slots);
    totals.cells[4] = percentText(fixedPointFraction(total.changed, total.slots)) + "%";
  } else if (total.methods > 0) {
    totals.figures[1] = fixedPointFraction(total.invoked, total.methods);
    totals.cells[4] = percentText(fixedPointFraction(total.invokedSinceMark, total.methods)) + "%";
  } else {
    totals.tintAgent = false;
    totals.cells[4] = "-";
  }
  totals.cells[3] = totals.tintAgent ? percentText(totals.figures[1]) + "%" : "-";
  totals.loaded = totalLines.total() > 0;
  totals.cells[5] = ratio(total.executed, total.slots);
  totals.cells[6] = ratio(total.entered, total.methods);

  std::vector<size_t> widths(kColumns, 0);
  for (const Row* row : {&header, &totals}) {
    for (size_t col = 0; col < kColumns; col++) {
      widths[col] = std::max(widths[col], width(row->cells[col]));
    }
  }
  for (const Row& row : rows) {
    for (size_t col = 0; col < kColumns; col++) {
      widths[col] = std::max(widths[col], width(row.cells[col]));
    }
  }
  size_t lineWidth = 2 * (kColumns - 1);
  for (size_t w : widths) lineWidth += w;

  writeRow(widths, header, options.colour, true, out);
  out << std::string(lineWidth, '-') << '\n';
  for (const Row& row : rows) writeRow(widths, row, options.colour, false, out);
  out << std::string(lineWidth, '-') << '\n';
  writeRow(widths, totals, options.colour, true, out);
}
