// `snp html`: a static HTML report in a folder that leads from the program to
// a line: index.html (a row per package), <package>/index.html (a row per
// source file and per class) and <package>/<source file>.html, with every
// class of that file, its methods and its source coloured by hits
// (html_file_page.h), or its lines when the source is not found.
//
// Pages hold their style and sorting script inline and load nothing: a
// Content-Security-Policy of default-src 'none' makes a browser refuse
// anything else. Figures are the headline every format shares (source lines)
// and the agent's counts of line slots and methods.
//
// The report is built in a new hidden folder beside the target and renamed
// into place once whole, so a failure leaves the target as it was. An existing
// target is replaced whole (no stale pages) when it holds a report and nothing
// else; a folder with other files is refused. A source file is read only when
// its path stays inside the source root (links followed); a source name that
// leads outside gets a warning and the line list.
#ifndef CCOVER_TOOLS_SNP_HTML_H_
#define CCOVER_TOOLS_SNP_HTML_H_

#include <string>
#include <vector>

#include "tools/snp/snapshot_model.h"

struct HtmlOptions {
  std::string outputDir;
  std::string sourceRoot;  // "" : no source listing
  std::string title = "Coverage report";
};

// Returns the number of source file pages written; appends warnings (sources
// outside the root), one line each. Throws SnpError, with the reason, when the report
// can't be written or put in place.
size_t writeHtml(const Snapshot& s, const HtmlOptions& options, std::vector<std::string>* warnings);

// The longest page name before ".html" and a case suffix.
constexpr size_t kMaxPageStem = 120;
// The file name of a page or folder (a package, a source file, a class
// without one): the dotted name with characters other than
// letters, digits, '.', '_', '-' and '$' as "_xx" (hex), so that it is valid on
// every file system. A name longer than kMaxPageStem keeps its first 103
// characters and gets "~" and 16 hex digits of the FNV-1a hash of the class name.
std::string pageName(const std::string& className);

#endif  // CCOVER_TOOLS_SNP_HTML_H_
