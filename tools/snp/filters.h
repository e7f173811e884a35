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
// And from the class files alone, for every class they describe, loaded or
// not (the snapshot says neither that a class is a record nor where a file
// ends; compiler_code.h):
//   - a record's generated equals, hashCode and toString;
//   - an enum's constructor that javac wrote (it only passes name and
//     ordinal on);
//   - Kotlin's inlined code: line slots numbered past the end of the file.
// --no-filters turns them all off.
//
// Thread-safety: plain functions.
#ifndef CCOVER_TOOLS_SNP_FILTERS_H_
#define CCOVER_TOOLS_SNP_FILTERS_H_

#include <stdint.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "tools/snp/class_files.h"
#include "tools/snp/snapshot_model.h"

// The class file that describes each class of the report input, by class ID:
// every class --classes added and every loaded class whose class file has
// the very methods and line slots the run saw. REQUIRES: the class files
// outlive it.
using DescribedClasses = std::unordered_map<int32_t, const ClassFileClass*>;

// Why a method is filtered, or nullptr when it is kept. file: the method as
// its class file describes it, when one does.
const char* methodFilter(const SnpClass& c, const SnpMethod& m,
                         const ClassFileMethod* file = nullptr);
// Why a class is filtered, or nullptr when it is kept.
const char* classFilter(const SnpClass& c);
// Removes what the filters name from the report input: methods from their
// class's list, classes from the class list, inlined line slots from their
// methods. Kotlin classes that no class file describes can't have their
// inlined lines told apart: one warning says so.
void applyFilters(Snapshot* s, const DescribedClasses& described,
                  std::vector<std::string>* warnings);

#endif  // CCOVER_TOOLS_SNP_FILTERS_H_
