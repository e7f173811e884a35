// Snapshots written by the agent's own document writer from object tables
// built with the testing runtime, for snp's tests, its fuzz corpus and its
// benchmark. Every counter is set from fixed rules, so two runs give the same
// ClassRoot and MethodRoot; only the Signature (host, user, time) differs.
//
// REQUIRES: the process links the testing runtime (cci); each call resets it.
#ifndef CCOVER_TOOLS_SNP_FIXTURE_H_
#define CCOVER_TOOLS_SNP_FIXTURE_H_

#include <string>

// kinds:
//   small   a few classes over two packages: an outer class and its nested
//           class sharing Main.java, a line with two slots, a method without
//           lines, an interface, a class not loaded, one without a source
//           file name, one with methods but no lines, a name outside ASCII,
//           a counter of 2^31 or more, and a mark
//   half-a, half-b, whole
//           one program; half-a runs the even slots of each method, half-b
//           the odd ones, both run the constructors; whole runs both, so its
//           counters are the sums of the two halves' counters
//   empty   no object at all
//   large   `methods` methods, 10 per class, 8 line slots each, counters from
//           a fixed pseudo-random sequence
// Figures are computed for every class (as after a mark), then the document is
// written with the comment and source path given. False when the kind is
// unknown or the file can't be written.
bool writeFixture(const std::string& kind, const std::string& path, int methods = 50000);

#endif  // CCOVER_TOOLS_SNP_FIXTURE_H_
