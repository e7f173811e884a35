// `snp cobertura`: Cobertura XML (coverage-04), the form GitLab's coverage
// report reads. Packages and classes in dotted names, each class with its
// source path, its methods and its lines; a line's hits are the largest hit
// count of its line slots (as in the LCOV report). Rates are covered lines /
// lines (1 when there are none); there are no branches, so branch rates are 0.
#ifndef CCOVER_TOOLS_SNP_COBERTURA_H_
#define CCOVER_TOOLS_SNP_COBERTURA_H_

#include <ostream>
#include <string>

#include "tools/snp/snapshot_model.h"

void writeCobertura(const Snapshot& s, const std::string& sourceRoot, std::ostream& out);

#endif  // CCOVER_TOOLS_SNP_COBERTURA_H_
