#include "tools/snp/summary.h"

#include <algorithm>
#include <array>
#include <vector>

#include "tools/snp/figures.h"
#include "tools/snp/text.h"

namespace {

const char kBold[] = "\x1b[1m";
const char kReset[] = "\x1b[0m";

struct Row {
  std::string name;
  bool loaded = true;
  int32_t coverage = 0;                     // fixed point; the sort key
  std::array<int32_t, 2> figures = {0, 0};  // coverage and since the mark, for the colours
  std::array<std::string, 5> cells;
};

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
  for (size_t col = 0; col < 5; col++) {
    const std::string& cell = row.cells[col];
    std::string gap(widths[col] - width(cell), ' ');
    // The name left-aligned, the figures right-aligned.
    if (col > 0) out << "  " << gap;
    bool tinted = colour && row.loaded && (col == 1 || col == 2);
    if (colour && bold) out << kBold;
    if (tinted) out << colourOf(row.figures[col - 1]);
    out << cell;
    if (colour && (bold || tinted)) out << kReset;
    if (col == 0) out << gap;
  }
  out << '\n';
}

}  // namespace

void writeSummary(const Snapshot& s, const SummaryOptions& options, std::ostream& out) {
  std::vector<Row> rows;
  ReportCounts total;
  for (const SnpClass& c : s.classes) {
    if (c.kind != SnpKind::kClass || !matches(c.name, options.filter)) continue;
    Row row;
    row.name = toUtf8(dottedName(c.name));
    row.loaded = c.loaded;
    row.cells[0] = row.name;
    if (!c.loaded) {
      row.coverage = -1;
      row.cells[1] = "not loaded";
      row.cells[2] = row.cells[3] = row.cells[4] = "-";
    } else {
      ReportCounts k = countClass(s, c);
      total.slots += k.slots;
      total.executed += k.executed;
      total.changed += k.changed;
      total.methods += k.methods;
      total.entered += k.entered;
      total.invoked += k.invoked;
      total.invokedSinceMark += k.invokedSinceMark;
      row.coverage = c.coverage;
      row.figures[0] = c.coverage;
      row.figures[1] = c.coverageSinceMark;
      row.cells[1] = percentText(c.coverage) + "%";
      row.cells[2] = percentText(c.coverageSinceMark) + "%";
      row.cells[3] = ratio(k.executed, k.slots);
      row.cells[4] = ratio(k.entered, k.methods);
    }
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
  header.cells[0] = "Class";
  header.cells[1] = "Coverage";
  header.cells[2] = "Since mark";
  header.cells[3] = "Lines";
  header.cells[4] = "Methods";
  header.loaded = false;

  Row totals;
  totals.cells[0] =
      "Total (" + std::to_string(rows.size()) + (rows.size() == 1 ? " class)" : " classes)");
  if (total.slots > 0) {
    totals.figures[0] = fixedPointFraction(total.executed, total.slots);
    totals.figures[1] = fixedPointFraction(total.changed, total.slots);
  } else if (total.methods > 0) {
    totals.figures[0] = fixedPointFraction(total.invoked, total.methods);
    totals.figures[1] = fixedPointFraction(total.invokedSinceMark, total.methods);
  } else {
    totals.loaded = false;
    totals.cells[2] = "-";
  }
  totals.cells[1] = totals.loaded ? percentText(totals.figures[0]) + "%" : "-";
  if (totals.loaded) totals.cells[2] = percentText(totals.figures[1]) + "%";
  totals.cells[3] = ratio(total.executed, total.slots);
  totals.cells[4] = ratio(total.entered, total.methods);

  std::vector<size_t> widths(5, 0);
  for (const Row* row : {&header, &totals}) {
    for (size_t col = 0; col < 5; col++) {
      widths[col] = std::max(widths[col], width(row->cells[col]));
    }
  }
  for (const Row& row : rows) {
    for (size_t col = 0; col < 5; col++) widths[col] = std::max(widths[col], width(row.cells[col]));
  }
  size_t lineWidth = 8;  // the four gaps of two spaces
  for (size_t w : widths) lineWidth += w;

  writeRow(widths, header, options.colour, true, out);
  out << std::string(lineWidth, '-') << '\n';
  for (const Row& row : rows) writeRow(widths, row, options.colour, false, out);
  out << std::string(lineWidth, '-') << '\n';
  writeRow(widths, totals, options.colour, true, out);
}
