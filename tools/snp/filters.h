// Filters for code the compiler made, not the programmer: reports leave it
// out so that coverage speaks of the source. The snapshot keeps every count;
// filters change only the report input (a copy). Decided from the names and
// access flags the snapshot holds, which --classes fills from the class files
// for classes the run never loaded:
//   - synthetic methods (bridges included), but not lambda bodies, which hold
//     the programmer's code;
//   - bridge methods;
//   - an enum's values(), valueOf(String) and $values();
//   - synthetic classes: javac's switch-map classes (Outer$1 holding
//     $SwitchMap$... arrays), which have no source lines of their own.
// --no-filters turns them all off.
//
// Thread-safety: plain functions.
#ifndef CCOVER_TOOLS_SNP_FILTERS_H_
#define CCOVER_TOOLS_SNP_FILTERS_H_

#include <string>

#include "tools/snp/snapshot_model.h"

// Why a method is filtered, or nullptr when it is kept.
const char* methodFilter(const SnpClass& c, const SnpMethod& m);
// Why a class is filtered, or nullptr when it is kept.
const char* classFilter(const SnpClass& c);
// Removes what the filters name from the report input: methods from their
// class's list, classes from the class list.
void applyFilters(Snapshot* s);

#endif  // CCOVER_TOOLS_SNP_FILTERS_H_
