// `snp jacoco`: a JaCoCo XML report (DTD "-//JACOCO//DTD Report 1.1//EN"), with
// packages, classes, methods and source files, and LINE, METHOD and CLASS
// counters; written element by element.
//
// The agent counts line slots, not bytecode instructions, so there is no
// INSTRUCTION, BRANCH or COMPLEXITY counter. A source line's mi and ci are the
// numbers of its line slots that did not run and that ran: a line with some of
// each shows as partly covered; mb and cb are 0. A line is covered when any of
// its slots ran; a method when it was entered; a class when any of its methods
// was entered.
#ifndef CCOVER_TOOLS_SNP_JACOCO_H_
#define CCOVER_TOOLS_SNP_JACOCO_H_

#include <ostream>
#include <string>

#include "tools/snp/snapshot_model.h"

void writeJacoco(const Snapshot& s, const std::string& reportName, std::ostream& out);

#endif  // CCOVER_TOOLS_SNP_JACOCO_H_
