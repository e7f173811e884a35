// `snp summary`: a terminal table with one row per class and interface: source
// lines covered (the headline every format shares, report_classes.h's
// HeadlineLines), then the agent's own figures: slot coverage and coverage
// since the mark as the agent last computed them, line slots run / line
// slots, methods entered / methods. The totals row is computed over the rows
// shown (the agent's figure over line slots, or over methods when no row has a
// line slot).
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
