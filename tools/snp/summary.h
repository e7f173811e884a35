// `snp summary`: a terminal table with one row per class (interfaces have no
// figures and are left out): coverage and coverage since the mark as the agent
// last computed them, line slots hit / line slots, methods entered / methods,
// then a totals row computed over the rows shown (over line slots, or over
// methods when no row has a line slot).
#ifndef CCOVER_TOOLS_SNP_SUMMARY_H_
#define CCOVER_TOOLS_SNP_SUMMARY_H_

#include <ostream>
#include <string>

#include "tools/snp/snapshot_model.h"

struct SummaryOptions {
  enum class Sort { kName, kCoverage };
  Sort sort = Sort::kName;  // kCoverage: lowest first, classes not loaded last
  std::string filter;       // a class-name prefix, dotted or with '/'
  bool colour = false;      // ANSI colours: green >= 80 %, yellow >= 50 %, red below
};

void writeSummary(const Snapshot& s, const SummaryOptions& options, std::ostream& out);

#endif  // CCOVER_TOOLS_SNP_SUMMARY_H_
