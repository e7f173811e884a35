// `snp check`: the CI gate. Thresholds over the same inputs as the reports
// (snapshots merged, --classes), counted by the same headline rule:
//   --line N     the report's source lines covered, in percent
//   --method N   its methods entered, in percent
//   --class P=N  every class whose dotted name matches the pattern P
//                ('*' any run of characters, '?' one) has N % of its lines
// A class without lines has nothing to miss and passes.
//
// Thread-safety: pure functions.
#ifndef CCOVER_TOOLS_SNP_CHECK_H_
#define CCOVER_TOOLS_SNP_CHECK_H_

#include <string>
#include <vector>

#include "tools/snp/snapshot_model.h"

// What `snp check` exits with when a threshold is not met: not 1 (bad input)
// nor 2 (bad command line), so that CI tells a gate from a broken step.
constexpr int kCheckFailedExitCode = 3;

struct ClassRule {
  std::string pattern;  // dotted, with '*' and '?'
  double percent = 0;
};

struct CheckRules {
  bool hasLine = false;
  double line = 0;
  bool hasMethod = false;
  double method = 0;
  std::vector<ClassRule> classes;
};

// "com.acme.*=90" -> rule; false with a reason for anything else.
bool parseClassRule(const std::string& text, ClassRule* out, std::string* error);
// A percentage 0..100; false with a reason otherwise.
bool parsePercent(const std::string& text, double* out, std::string* error);
// Whether a dotted name matches a pattern of '*' and '?'.
bool globMatches(const std::string& pattern, const std::string& name);

// One line per threshold not met, in the order given: the figure, its counts
// and the threshold. Empty when all are met. *passed gets one line per
// threshold met, for the log.
std::vector<std::string> checkThresholds(const Snapshot& s, const CheckRules& rules,
                                         std::vector<std::string>* passed);

#endif  // CCOVER_TOOLS_SNP_CHECK_H_
