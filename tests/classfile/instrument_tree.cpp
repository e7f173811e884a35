// Instruments every class file under a folder into another folder, as the
// runtime would (IDs from 1, one per class and one per method), and checks
// that each output parses and instruments again. Prints the counts, and the
// time spent in classfile/ alone, per class and per MB.
//
// Usage: classfile_instrument_tree IN OUT [--every N] [--strip-first] [--originals DIR] [--exact]
//   --every N        take every Nth class file in name order (a sample)
//   --strip-first    drop the first folder of each path (a jimage module folder)
//   --originals DIR  also copy the sampled originals there, for comparison
//   --exact          the probes of counting=exact (default: the inline probes,
//                    with a made-up address for each class's records)
// Exit code 1 when any class fails to parse, or any output to parse again.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "classfile/class_file.h"
#include "classfile/instrument.h"

namespace fs = std::filesystem;
using namespace classfile;

namespace {

struct Counts {
  long files = 0, instrumented = 0, unchanged = 0, skipped = 0, malformed = 0;
  long methods = 0, slots = 0, entryOnly = 0, notInstrumented = 0, reparseFailures = 0;
  uint64_t bytesIn = 0;
  double seconds = 0;
};

uint64_t fakeCounters(void* context, const std::vector<uint16_t>&) {
  return 0x7f1234560000u + 64u * static_cast<uint64_t>(*static_cast<uint32_t*>(context));
}

std::vector<uint8_t> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int report(const Counts& c, size_t total) {
  double mb = static_cast<double>(c.bytesIn) / (1024.0 * 1024.0);
  printf(
      "classes %ld of %zu (instrumented %ld, unchanged %ld, skipped %ld, malformed %ld), "
      "methods %ld, slots %ld, entry only %ld, not instrumented %ld\n",
      c.files, total, c.instrumented, c.unchanged, c.skipped, c.malformed, c.methods, c.slots,
      c.entryOnly, c.notInstrumented);
  printf("instrumenting: %.3f s for %.1f MB: %.1f us per class, %.1f ms per MB\n", c.seconds, mb,
         c.files > 0 ? 1e6 * c.seconds / static_cast<double>(c.files) : 0.0,
         mb > 0 ? 1e3 * c.seconds / mb : 0.0);
  // The corpus is made of valid classes: one this module can't read is its bug.
  return c.reparseFailures > 0 || c.malformed > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s IN OUT [--every N] [--strip-first]\n", argv[0]);
    return 2;
  }
  fs::path in = argv[1], out = argv[2];
  long every = 1;
  bool stripFirst = false;
  bool exact = false;
  fs::path originals;
  for (int i = 3; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--every" && i + 1 < argc) {
      every = std::max(1L, strtol(argv[++i], nullptr, 10));
    } else if (a == "--originals" && i + 1 < argc) {
      originals = argv[++i];
    } else if (a == "--exact") {
      exact = true;
    } else if (a == "--strip-first") {
      stripFirst = true;
    } else {
      fprintf(stderr, "unknown option %s\n", a.c_str());
      return 2;
    }
  }
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(in)) {
    if (e.is_regular_file() && e.path().extension() == ".class") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  Counts c;
  uint32_t nextId = 1;
  for (size_t i = 0; i < files.size(); i += static_cast<size_t>(every)) {
    fs::path relative = fs::relative(files[i], in);
    if (stripFirst) {
      fs::path rest;
      bool first = true;
      for (const auto& part : relative) {
        if (!first) rest /= part;
        first = false;
      }
      relative = rest;
    }
    std::vector<uint8_t> bytes = readFile(files[i]);
    c.files++;
    c.bytesIn += bytes.size();
    auto start = std::chrono::steady_clock::now();
    ClassFile cf;
    std::vector<uint8_t> output;
    ClassOutline outline;
    ClassOutcome outcome = ClassOutcome::kMalformed;
    if (parseClassFile(bytes.data(), bytes.size(), &cf)) {
      outcome = classifyClass(cf);
      if (outcome == ClassOutcome::kInstrumented) {
        uint32_t id = nextId;
        nextId += 1 + static_cast<uint32_t>(cf.methods.size());
        // The counters' address only has to look like one: nothing here runs.
        InlineRecords records = {&fakeCounters, &id};
        outcome = instrumentClass(cf, id, &output, &outline, exact ? nullptr : &records);
      }
    }
    c.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    switch (outcome) {
      case ClassOutcome::kInstrumented:
        c.instrumented++;
        break;
      case ClassOutcome::kUnchanged:
        c.unchanged++;
        break;
      case ClassOutcome::kSkipped:
        c.skipped++;
        break;
      case ClassOutcome::kMalformed:
        c.malformed++;
        fprintf(stderr, "malformed: %s\n", relative.string().c_str());
        break;
    }
    if (outcome == ClassOutcome::kInstrumented || outcome == ClassOutcome::kUnchanged) {
      c.methods += static_cast<long>(outline.methods.size());
      for (const MethodOutline& m : outline.methods) {
        c.slots += static_cast<long>(m.lines.size());
        if (m.outcome == MethodOutcome::kEntryOnly) c.entryOnly++;
        if (m.outcome == MethodOutcome::kNotInstrumented) c.notInstrumented++;
      }
    }
    const std::vector<uint8_t>& written = outcome == ClassOutcome::kInstrumented ? output : bytes;
    if (outcome == ClassOutcome::kInstrumented) {
      ClassFile again;
      std::vector<uint8_t> twice;
      ClassOutline outline2;
      if (!parseClassFile(output.data(), output.size(), &again) ||
          instrumentClass(again, 1, &twice, &outline2) == ClassOutcome::kMalformed) {
        c.reparseFailures++;
        fprintf(stderr, "output does not parse again: %s\n", relative.string().c_str());
      }
    }
    if (!originals.empty()) {
      fs::path copy = originals / relative;
      fs::create_directories(copy.parent_path());
      std::ofstream(copy, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
    }
    fs::path target = out / relative;
    fs::create_directories(target.parent_path());
    std::ofstream(target, std::ios::binary)
        .write(reinterpret_cast<const char*>(written.data()),
               static_cast<std::streamsize>(written.size()));
  }
  return report(c, files.size());
}
