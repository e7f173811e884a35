// The class hook's whole work on a tree of classes outside the JVM (parse,
// instrument, records, registration: instrumentLoadedClass), with the caches
// made cold between two classes as the JVM's own class loading makes them:
// before each class it writes through EVICT MB of memory and then reads the
// class's bytes (the JVM has just copied them), outside the timed part. In the JVM the hook costs
// about twice what classfile_instrument_tree measures warm; this is the figure to profile and to
// cut that part by.
//
// Usage: cci_hook_cold IN [--evict MB] [--rounds N] [--exact]
//   IN          a folder of class files (an unzipped jar), taken in name order
//   --evict MB  memory written between two classes (default 4; 0: warm)
//   --rounds N  passes over the classes; the best pass is reported (default 3)
//   --exact     the probes of counting=exact (default: inline probes)
// Each class's new bytes go into fresh malloc'd memory, as JVMTI's Allocate
// hands it; the records stay registered, so the table grows as in the JVM.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runtime/jvmti/class_hook.h"
#include "runtime/jvmti/monitor.h"
#include "runtime/jvmti/runtime_state.h"
#include "support/hash_table.h"
#include "support/vector.h"

namespace fs = std::filesystem;

namespace {

struct Class {
  std::string name;
  std::vector<uint8_t> bytes;
};

uint8_t* intoMalloc(void* context, size_t size) {
  void* memory = malloc(size);
  *static_cast<void**>(context) = memory;
  return static_cast<uint8_t*>(memory);
}

// Written, not only read: the JVM's parser and verifier write what they
// build, so lines come back dirty and the TLB holds other pages.
void evict(std::vector<uint8_t>& memory, uint8_t round) {
  for (size_t i = 0; i < memory.size(); i += 64) memory[i] = round;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s IN [--evict MB] [--rounds N] [--exact]\n", argv[0]);
    return 2;
  }
  size_t evictMb = 4;
  int rounds = 3;
  bool exact = false;
  for (int i = 2; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--evict" && i + 1 < argc) {
      evictMb = strtoul(argv[++i], nullptr, 10);
    } else if (a == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, atoi(argv[++i]));
    } else if (a == "--exact") {
      exact = true;
    } else {
      fprintf(stderr, "unknown option %s\n", a.c_str());
      return 2;
    }
  }
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(argv[1])) {
    if (e.is_regular_file() && e.path().extension() == ".class") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  std::vector<Class> classes;
  for (const fs::path& f : files) {
    std::ifstream in(f, std::ios::binary);
    Class c;
    c.name = fs::relative(f, argv[1]).replace_extension().string();
    c.bytes.assign(std::istreambuf_iterator<char>(in), {});
    classes.push_back(std::move(c));
  }

  cci_jvmti::RuntimeState& s = cci_jvmti::state();
  s.options.inlineCounting = !exact;
  s.idToCObjects = QMHashNew(256, nullptr, nullptr, "IDToCObjects", 0);
  s.idToCObjectsLock = cci_jvmti::newMonitor("IDToCObjectsLock");
  s.unregisteredClasses = QMNewVector(100);
  s.unregisteredClassesLock = cci_jvmti::newMonitor("unregisteredClassesLock");

  std::vector<uint8_t> cold(evictMb << 20);
  double best = 0;
  volatile uint8_t touched = 0;  // so that reading the bytes is kept
  long rewritten = 0;
  for (int round = 0; round < rounds; round++) {
    double seconds = 0;
    rewritten = 0;
    for (const Class& c : classes) {
      evict(cold, static_cast<uint8_t>(round + 1));
      // The JVM has just copied the class's bytes when it calls the hook.
      uint8_t sum = 0;
      for (uint8_t b : c.bytes) sum = static_cast<uint8_t>(sum + b);
      touched = sum;
      void* memory = nullptr;
      size_t size = 0;
      auto start = std::chrono::steady_clock::now();
      cci_jvmti::HookResult result = cci_jvmti::instrumentLoadedClass(
          c.name.c_str(), c.bytes.data(), c.bytes.size(), {&intoMalloc, &memory}, &size);
      seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      rewritten += result == cci_jvmti::HookResult::kRewritten ? 1 : 0;
      free(memory);
    }
    if (round == 0 || seconds < best) best = seconds;
  }
  printf(
      "%zu classes (%ld rewritten), %zu MB evicted between two: best of %d rounds %.1f ms, "
      "%.2f us per class\n",
      classes.size(), rewritten, evictMb, rounds, 1e3 * best,
      classes.empty() ? 0.0 : 1e6 * best / static_cast<double>(classes.size()));
  return 0;
}
