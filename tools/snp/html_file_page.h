// The page of one source file in `snp html`: every class compiled from it
// (nested, anonymous and local classes with the outer one), their methods,
// and the source with each line coloured from the slots of all those classes,
// its hit count, a tooltip on lines of several slots ("2 slots: 5, 0 hits")
// and markers for code that was never loaded or not instrumented. Without the
// source text, the lines that carry slots are listed instead.
//
// Thread-safety: pure functions.
#ifndef CCOVER_TOOLS_SNP_HTML_FILE_PAGE_H_
#define CCOVER_TOOLS_SNP_HTML_FILE_PAGE_H_

#include <string>
#include <vector>

#include "tools/snp/html_page.h"
#include "tools/snp/snapshot_model.h"

struct FileView {
  std::string title;                     // the report's, first step of the breadcrumb
  std::string package;                   // dotted
  std::string label;                     // "Main.java"
  std::vector<const SnpClass*> classes;  // by name
  std::vector<RowFigures> rows;          // of each class
  const std::string* source = nullptr;   // the file's bytes, when read
  const char* missing = nullptr;         // why there is no source, when not
};

void writeFilePage(const Snapshot& s, const FileView& f, HtmlOut* out);

#endif  // CCOVER_TOOLS_SNP_HTML_FILE_PAGE_H_
