// libFuzzer target for the reader and the rewriter: any bytes are read,
// described and rewritten without a crash or an access out of bounds, and
// whatever comes out parses, and instruments, again.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <vector>

#include "classfile/class_file.h"
#include "classfile/instrument.h"

namespace {

// Inline probes too: the slots laid out must be the ones the outline keeps
// or fewer, method by method.
std::vector<uint16_t> placed;

uint64_t place(void*, const std::vector<uint16_t>& slots) {
  placed = slots;
  return 0x7f0000001000u;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace classfile;
  ClassFile cf;
  if (!parseClassFile(data, size, &cf)) return 0;
  {
    std::vector<uint8_t> out;
    ClassOutline outline;
    InlineRecords records = {&place, nullptr};
    placed.clear();
    if (instrumentClass(cf, 40000, &out, &outline, &records) == ClassOutcome::kInstrumented) {
      if (placed.size() != outline.methods.size()) abort();
      for (size_t i = 0; i < placed.size(); i++) {
        if (outline.methods[i].lines.size() > placed[i]) abort();
      }
    }
  }
  std::vector<uint8_t> out;
  ClassOutline outline;
  if (instrumentClass(cf, 40000, &out, &outline) != ClassOutcome::kInstrumented) return 0;
  if (outline.methods.size() != cf.methods.size()) abort();
  ClassFile again;
  if (!parseClassFile(out.data(), out.size(), &again)) {
    fputs("instrumented output does not parse again\n", stderr);
    abort();
  }
  std::vector<uint8_t> twice;
  ClassOutline outline2;
  if (instrumentClass(again, 1, &twice, &outline2) == ClassOutcome::kMalformed) {
    fputs("instrumented output is not a class the rewriter can read\n", stderr);
    abort();
  }
  return 0;
}
