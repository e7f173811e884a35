// What every report command reads: one or more snapshots, merged as
// `snp merge` merges them, and the class files of --classes. The result is one
// Snapshot model that every format walks:
//   - classes of one name that several class loaders defined with the same
//     code are one class, their counts added (a report row per name);
//   - a class file's class that the run never loaded is added with its
//     methods and line slots, every count 0 (fromClassFile);
//   - a loaded class whose class file describes other line slots is named in a
//     warning and reported from the snapshot, unless the only difference is
//     methods without slots in the run: those the runtime could not
//     instrument, whose class-file lines go into SnpMethod::uncountedLines;
//   - unless filters is false, compiler-made code is left out (filters.h),
//     decided from the class files where they are given.
//
// Failure: FileError naming the snapshot, jar or class file at fault.
// Thread-safety: plain functions.
#ifndef CCOVER_TOOLS_SNP_REPORT_INPUT_H_
#define CCOVER_TOOLS_SNP_REPORT_INPUT_H_

#include <string>
#include <vector>

#include "tools/snp/class_files.h"
#include "tools/snp/filters.h"
#include "tools/snp/snapshot_model.h"

Snapshot loadReportInput(const std::vector<std::string>& snapshots,
                         const std::vector<std::string>& classPaths, bool filters,
                         std::vector<std::string>* warnings);

// The steps, for tests.
void mergeLoaderDuplicates(Snapshot* s, std::vector<std::string>* warnings);
// described (may be null) receives, by class ID, the class file of each
// class it added and of each loaded class whose class file matches it: what
// the filters may learn from.
void addClassFiles(const std::vector<ClassFileClass>& classes, Snapshot* s,
                   std::vector<std::string>* warnings, DescribedClasses* described = nullptr);

#endif  // CCOVER_TOOLS_SNP_REPORT_INPUT_H_
