// `snp html`: a static HTML report in a folder: index.html with a coverage bar
// per package and per class, and classes/<name>.html per class, with its
// methods and its source lines coloured by hits (hit, partly hit, missed)
// when the source file is found under the source root, its line list when not.
//
// Pages hold their style inline and load nothing: a Content-Security-Policy
// of default-src 'none' makes a browser refuse anything else. Coverage here is
// computed from the counters by the agent's rules (line slots, or methods for
// a class without slots). Each page is written as it is made.
#ifndef CCOVER_TOOLS_SNP_HTML_H_
#define CCOVER_TOOLS_SNP_HTML_H_

#include <string>

#include "tools/snp/snapshot_model.h"

struct HtmlOptions {
  std::string outputDir;
  std::string sourceRoot;  // "" : no source listing
  std::string title = "Coverage report";
};

// Returns the number of class pages written. Throws SnpError when a file can't
// be written.
size_t writeHtml(const Snapshot& s, const HtmlOptions& options);

// The file name of a class page: the dotted name with characters other than
// letters, digits, '.', '_', '-' and '$' as "_xx" (hex), so that it is valid on
// every file system.
std::string pageName(const std::string& className);

#endif  // CCOVER_TOOLS_SNP_HTML_H_
