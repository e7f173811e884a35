#include "tools/snp/fixture.h"

#include <stdint.h>

#include <string>
#include <vector>

#include "cci/records.h"
#include "model/update_cycle.h"
#include "runtime/testing/cci_testing.h"
#include "snapshot/document.h"

namespace {

struct MethodDef {
  uint32_t id;
  const char* name;
  const char* signature;
  uint16_t flags;
  std::vector<uint16_t> lines;
};

CClass* addClass(uint32_t id, const char* name, const char* source,
                 const std::vector<MethodDef>& defs, uint16_t loaded = 1) {
  std::vector<CciTestMethodSpec> methodShapes;
  methodShapes.reserve(defs.size());
  for (const MethodDef& d : defs) {
    methodShapes.push_back({d.id, d.name, d.signature, d.flags,
                            static_cast<uint16_t>(d.lines.size()),
                            d.lines.empty() ? nullptr : d.lines.data()});
  }
  return cciTestAddClass(id, name, source, 0x21, loaded, methodShapes.data(),
                         static_cast<int32_t>(methodShapes.size()));
}

// The program of the small table and of the halves.
std::vector<CClass*> addProgram() {
  std::vector<CClass*> classes;
  classes.push_back(addClass(10, "app/tools/Main", "Main.java",
                             {{11, "<init>", "()V", 1, {3}},
                              {12, "main", "([Ljava/lang/String;)V", 9, {5, 6, 6, 7, 9}},
                              {13, "unused", "(I)I", 2, {12, 13}}}));
  classes.push_back(addClass(20, "app/tools/Main$Helper", "Main.java",
                             {{21, "<init>", "(Lapp/tools/Main;)V", 0, {15}},
                              {22, "help", "()Ljava/lang/String;", 1, {16, 17}}}));
  classes.push_back(addClass(30, "app/util/Strings", "Strings.java",
                             {{31, "join", "([Ljava/lang/String;)Ljava/lang/String;", 9, {4, 5, 6}},
                              {32, "hash0", "()I", 0x109, {}}}));
  classes.push_back(addClass(60, "app/Gen", nullptr, {{61, "run", "()V", 1, {1, 2}}}));
  classes.push_back(addClass(70, "app/NoLines", "NoLines.java",
                             {{71, "a", "()V", 1, {}}, {72, "b", "()V", 1, {}}}));
  classes.push_back(addClass(80, "app/tools/Caf\xc3\xa9", "Caf\xc3\xa9.java",
                             {{81, "<init>", "()V", 1, {2, 3}}}));
  CciTestMethodSpec area = {41, "area", "()D", 0x401, 0, nullptr};
  cciTestAddInterface(40, "app/util/Shape", "Shape.java", 0x601, &area, 1);
  addClass(50, "app/Lazy", "Lazy.java", {}, 0);
  return classes;
}

void finish(const std::vector<CClass*>& classes) {
  for (CClass* c : classes) computeClassFigures(c);
}

bool write(const std::string& path, const char* comment) {
  int32_t bytes = 0;
  return writeSnapshotDocument(path.c_str(), "src/main/java", comment, cciGetCObjectsByID(),
                               &bytes);
}

void small() {
  std::vector<CClass*> classes = addProgram();
  // Main: constructor once, main with one of its two line-6 slots, unused never.
  CMethod* main = classes[0]->methods;
  main[0].invocations = 1;
  main[0].hits[0] = 1;
  main[1].invocations = 1;
  uint32_t mainHits[] = {1, 4, 0, 3, 1};
  for (int k = 0; k < 5; k++) main[1].hits[k] = mainHits[k];
  // Helper: entered, and a counter beyond 2^31 that must read back unsigned.
  CMethod* helper = classes[1]->methods;
  helper[0].invocations = 2;
  helper[0].hits[0] = 2;
  helper[1].invocations = 0x80000005u;
  helper[1].hits[0] = 0x80000005u;
  // Strings: marked once, then run again.
  CMethod* strings = classes[2]->methods;
  strings[0].invocations = 3;
  strings[0].markedInvocations = 1;
  uint32_t joinHits[] = {3, 3, 0};
  uint32_t joinMarked[] = {1, 1, 0};
  for (int k = 0; k < 3; k++) {
    strings[0].hits[k] = joinHits[k];
    strings[0].markedHits[k] = joinMarked[k];
  }
  strings[1].invocations = 7;
  // NoLines: one of two methods entered.
  classes[4]->methods[0].invocations = 5;
  classes[5]->methods[0].invocations = 1;
  classes[5]->methods[0].hits[0] = 1;
  finish(classes);
}

void half(bool even, bool odd) {
  std::vector<CClass*> classes = addProgram();
  for (CClass* c : classes) {
    for (uint32_t i = 0; i < c->methodCount; i++) {
      CMethod& m = c->methods[i];
      bool constructor = std::string(m.name) == "<init>";
      // Each half enters a method once (the odd half twice) when it runs any
      // of its slots; counts add up, so whole = half-a + half-b exactly.
      bool evenSlot = false, oddSlot = false;
      for (uint32_t k = 0; k < m.lineCount; k++) {
        uint32_t slot = k + i;
        uint32_t hits = 0;
        if (constructor) {
          hits = (even ? 1 : 0) + (odd ? 2 : 0);
        } else {
          if (even && slot % 2 == 0) hits += 10 + k;
          if (odd && slot % 2 == 1) hits += 20 + k;
        }
        evenSlot = evenSlot || slot % 2 == 0 || constructor;
        oddSlot = oddSlot || slot % 2 == 1 || constructor;
        m.hits[k] = hits;
      }
      if (m.lineCount == 0) {
        evenSlot = i % 2 == 0;
        oddSlot = i % 2 == 1;
      }
      m.invocations = (even && evenSlot ? 1 : 0) + (odd && oddSlot ? 2 : 0);
    }
  }
  finish(classes);
}

void large(int methods) {
  std::vector<CClass*> classes;
  uint32_t seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  int classCount = (methods + 9) / 10;
  static const char* const kNames[] = {"run", "get", "set", "apply", "close"};
  for (int c = 0; c < classCount; c++) {
    uint32_t classId = 1000 + static_cast<uint32_t>(c) * 16;
    std::string name = "org/bench/p" + std::to_string(c % 100) + "/Type" + std::to_string(c);
    std::string source = "Type" + std::to_string(c) + ".java";
    std::vector<MethodDef> defs;
    for (int i = 0; i < 10 && c * 10 + i < methods; i++) {
      std::vector<uint16_t> lines;
      lines.reserve(8);
      for (int k = 0; k < 8; k++) lines.push_back(static_cast<uint16_t>(10 + i * 12 + k));
      defs.push_back({classId + 1 + static_cast<uint32_t>(i), kNames[i % 5], "(I)V", 1, lines});
    }
    CClass* k = addClass(classId, name.c_str(), source.c_str(), defs);
    for (uint32_t i = 0; i < k->methodCount; i++) {
      CMethod& m = k->methods[i];
      for (uint32_t slot = 0; slot < m.lineCount; slot++) {
        m.hits[slot] = next() % 3 == 0 ? 0 : next() % 100;
      }
      m.invocations = m.hits[0];
    }
    classes.push_back(k);
  }
  finish(classes);
}

}  // namespace

bool writeFixture(const std::string& kind, const std::string& path, int methods) {
  cciTestReset();
  if (kind == "small") {
    small();
    return write(path, "small table");
  }
  if (kind == "half-a" || kind == "half-b" || kind == "whole") {
    half(kind != "half-b", kind != "half-a");
    return write(path, nullptr);
  }
  if (kind == "empty") return write(path, nullptr);
  if (kind == "large") {
    large(methods);
    return write(path, "benchmark");
  }
  return false;
}
