#include "tools/snp/filters.h"

#include <algorithm>

namespace {

constexpr int32_t kAccBridge = 0x0040;
constexpr int32_t kAccSynthetic = 0x1000;
constexpr int32_t kAccEnum = 0x4000;

bool endsWith(const std::string& s, const char* suffix) {
  std::string tail(suffix);
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Drops the slots numbered from `first` on: kotlinc's copies of inline
// functions, which lie past the end of the file.
void dropInlinedSlots(SnpMethod* m, int32_t first) {
  size_t kept = 0;
  for (size_t k = 0; k < m->lines.size(); k++) {
    if (m->lines[k] >= first) continue;
    m->lines[kept] = m->lines[k];
    m->hits[kept] = m->hits[k];
    m->markedHits[kept] = m->markedHits[k];
    kept++;
  }
  m->lines.resize(kept);
  m->hits.resize(kept);
  m->markedHits.resize(kept);
}

}  // namespace

const char* methodFilter(const SnpClass& c, const SnpMethod& m, const ClassFileMethod* file) {
  if (m.accessFlags & kAccBridge) return "bridge method";
  if ((m.accessFlags & kAccSynthetic) && m.name.rfind("lambda$", 0) != 0) {
    return "synthetic method";
  }
  if (c.accessFlags & kAccEnum) {
    std::string self = "L" + c.name + ";";
    if (m.name == "values" && m.signature == "()[" + self) return "enum values()";
    if (m.name == "$values" && m.signature == "()[" + self) return "enum $values()";
    if (m.name == "valueOf" && m.signature == "(Ljava/lang/String;)" + self) {
      return "enum valueOf(String)";
    }
  }
  return file == nullptr ? nullptr : file->compilerMade;
}

const char* classFilter(const SnpClass& c) {
  if (c.accessFlags & kAccSynthetic) return "synthetic class (a switch map)";
  return nullptr;
}

void applyFilters(Snapshot* s, const DescribedClasses& described,
                  std::vector<std::string>* warnings) {
  std::vector<SnpClass> kept;
  kept.reserve(s->classes.size());
  size_t undescribedKotlin = 0;
  for (SnpClass& c : s->classes) {
    if (c.loaded && classFilter(c) != nullptr) continue;
    auto found = described.find(c.id);
    const ClassFileClass* file = found == described.end() ? nullptr : found->second;
    // Described classes have the class file's methods, in its order.
    if (file != nullptr && file->methods.size() != c.methods.size()) file = nullptr;
    if (file == nullptr && c.loaded && c.hasSourceName && endsWith(c.sourceName, ".kt")) {
      undescribedKotlin++;
    }
    std::vector<int32_t> ids;
    std::vector<size_t> methods;
    for (size_t i = 0; i < c.methods.size(); i++) {
      SnpMethod& m = s->methods[c.methods[i]];
      if (methodFilter(c, m, file == nullptr ? nullptr : &file->methods[i]) != nullptr) continue;
      if (file != nullptr && file->firstInlinedLine > 0)
        dropInlinedSlots(&m, file->firstInlinedLine);
      ids.push_back(c.methodIds[i]);
      methods.push_back(c.methods[i]);
    }
    c.methodIds = std::move(ids);
    c.methods = std::move(methods);
    kept.push_back(std::move(c));
  }
  s->classes = std::move(kept);
  if (undescribedKotlin > 0) {
    warnings->push_back("Kotlin classes without class files (" + std::to_string(undescribedKotlin) +
                        "): lines of inline functions past the end of a file are reported "
                        "(give --classes to leave them out)");
  }
}
