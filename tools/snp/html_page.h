// The parts every page of `snp html` shares: a buffered writer that escapes
// text in one pass, the page's head (inline style and sorting script, and a
// Content-Security-Policy that lets the page load nothing else), the
// breadcrumb, and the rows of the sortable figure tables.
//
// A page is built whole in one string and handed to the page writer
// (page_writer.h), which writes it with one call.
//
// Thread-safety: one HtmlOut per page, used by one thread.
#ifndef CCOVER_TOOLS_SNP_HTML_PAGE_H_
#define CCOVER_TOOLS_SNP_HTML_PAGE_H_

#include <stdint.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "merge/class_figures.h"
#include "tools/snp/report_classes.h"

class HtmlOut {
 public:
  HtmlOut& raw(std::string_view s) {
    text_.append(s);
    return *this;
  }
  // Valid UTF-8 as HTML text or attribute value: & < > " ' as references and
  // control characters other than tab as U+FFFD, which HTML can't hold.
  HtmlOut& text(std::string_view utf8);
  HtmlOut& number(uint64_t value);
  HtmlOut& fraction(uint64_t part, uint64_t whole) { return number(part).raw("/").number(whole); }
  const std::string& str() const { return text_; }
  void clear() { text_.clear(); }
  // The text, leaving this empty.
  std::string take() {
    std::string out = std::move(text_);
    text_.clear();
    return out;
  }

 private:
  std::string text_;
};

// The page up to <body>.
void pageHead(HtmlOut* out, std::string_view title);
// The script and the closing tags.
void pageEnd(HtmlOut* out);
// "Report > package > file": each step but the last a link (href, label).
void breadcrumb(HtmlOut* out, const std::vector<std::pair<std::string, std::string>>& steps,
                std::string_view here);

// The figures of one row: the headline (source lines) and the agent's counts.
struct RowFigures {
  Counter lines;
  ReportCounts counts;
  void add(const RowFigures& o);
};
// Header cells of a figure table; name is the first column's title.
void figureHeader(HtmlOut* out, std::string_view name, bool withClasses);
// One row: nameCell is HTML already. classes < 0: no Classes column.
void figureRow(HtmlOut* out, std::string_view rowClass, std::string_view nameCell,
               const RowFigures& f, int64_t classes = -1);

// The marker of a class the run never loaded (described from its class file).
extern const char kNotLoadedMarker[];

#endif  // CCOVER_TOOLS_SNP_HTML_PAGE_H_
