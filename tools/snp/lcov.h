// `snp lcov`: an LCOV tracefile, one record per source file. A class's source
// file is its package folder plus its source file name; classes that share one
// (an outer class and its nested classes) share the record.
//
// A source line that several line slots carry gets one DA count: the largest
// hit count of its slots, so the line counts as hit when any of its slots ran
// and the count is how often the line was reached at least. Functions are the
// methods with lines, named "Class.method(descriptor)", at their first line.
// Classes without a source file name, interfaces and classes that are not
// loaded have no record. Written record by record.
#ifndef CCOVER_TOOLS_SNP_LCOV_H_
#define CCOVER_TOOLS_SNP_LCOV_H_

#include <ostream>
#include <string>

#include "tools/snp/snapshot_model.h"

struct LcovOptions {
  std::string sourceRoot;  // prefixed to every SF path when not empty
  std::string testName;    // the TN line
};

// Returns the number of classes left out for want of a source file name.
size_t writeLcov(const Snapshot& s, const LcovOptions& options, std::ostream& out);

// root + "/" + path, with one slash between; path alone when root is empty.
std::string joinPath(const std::string& root, const std::string& path);

#endif  // CCOVER_TOOLS_SNP_LCOV_H_
