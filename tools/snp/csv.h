// `snp csv`: JaCoCo's CSV report layout, one row per class, so that tools that
// read JaCoCo's CSV read ours. The agent counts no instructions, branches or
// complexity: those columns are 0. LINE_* are the headline source lines
// (report_classes.h's HeadlineLines: a line shared by two classes of one file
// is counted in the first), so the rows add up to every other format's total.
//
// Thread-safety: a pure function over the snapshot.
#ifndef CCOVER_TOOLS_SNP_CSV_H_
#define CCOVER_TOOLS_SNP_CSV_H_

#include <ostream>
#include <string>

#include "tools/snp/snapshot_model.h"

void writeCsv(const Snapshot& s, const std::string& group, std::ostream& out);

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text);

#endif  // CCOVER_TOOLS_SNP_CSV_H_
