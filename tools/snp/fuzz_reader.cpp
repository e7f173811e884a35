// libFuzzer target: the bounds-checked reader, the model built on it, and the
// reports written from the model (to a discarding stream); and the class-file
// path of --classes: the same bytes as a jar and as one class file, added to
// the report input and reported. Any input must give
// a result or an error: no crash, no leak, no allocation beyond what
// -malloc_limit_mb allows.
#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <ostream>
#include <streambuf>

#include "support/reader.h"
#include "tools/snp/check.h"
#include "tools/snp/class_files.h"
#include "tools/snp/cobertura.h"
#include "tools/snp/command.h"
#include "tools/snp/csv.h"
#include "tools/snp/dump.h"
#include "tools/snp/jacoco.h"
#include "tools/snp/lcov.h"
#include "tools/snp/merge.h"
#include "tools/snp/report_input.h"
#include "tools/snp/snapshot_model.h"
#include "tools/snp/summary.h"

namespace {

struct NullBuffer : std::streambuf {
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  NullBuffer buffer;
  std::ostream out(&buffer);
  {
    std::unique_ptr<SEReader, void (*)(SEReader*)> reader(SEReaderNew(), SEReaderFree);
    SESnapshotView view;
    if (reader != nullptr && SEReadSnapshot(reader.get(), data, size, &view)) {
      writeDump(view, false, out);
      writeDump(view, true, out);
    }
  }
  try {
    Snapshot s = snapshotFromBytes(data, size);
    writeSummary(s, SummaryOptions(), out);
    writeLcov(s, LcovOptions(), out);
    writeJacoco(s, "fuzz", out);
    writeCobertura(s, "", out);
    std::vector<MergeInput> inputs = {{"a", s}, {"b", s}};
    std::vector<std::string> warnings;
    Snapshot merged = mergeSnapshots(inputs, &warnings);
    writeLcov(merged, LcovOptions(), out);
  } catch (const SnpError&) {
  }
  std::vector<ClassFileClass> classes(1);
  bool skipped = false;
  std::string error;
  if (!describeClassFile(data, size, &classes[0], &skipped, &error) || skipped) classes.clear();
  try {
    readJarBytes("fuzz.jar", data, size, &classes);
  } catch (const FileError&) {
  }
  if (!classes.empty()) {
    Snapshot s;
    std::vector<std::string> warnings;
    addClassFiles(classes, &s, &warnings);
    addClassFiles(classes, &s, &warnings);  // the same classes again: all known
    mergeLoaderDuplicates(&s, &warnings);
    writeSummary(s, SummaryOptions(), out);
    writeJacoco(s, "fuzz", out);
    writeCsv(s, "fuzz", out);
    CheckRules rules;
    rules.hasLine = true;
    rules.line = 50;
    rules.classes = {{"*", 50}};
    std::vector<std::string> passed;
    checkThresholds(s, rules, &passed);
  }
  return 0;
}
