// libFuzzer target: the bounds-checked reader, the model built on it, and the
// reports written from the model (to a discarding stream). Any input must give
// a result or an error: no crash, no leak, no allocation beyond what
// -malloc_limit_mb allows.
#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <ostream>
#include <streambuf>

#include "support/reader.h"
#include "tools/snp/cobertura.h"
#include "tools/snp/dump.h"
#include "tools/snp/jacoco.h"
#include "tools/snp/lcov.h"
#include "tools/snp/merge.h"
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
  return 0;
}
