#include "tools/snp/filters.h"

#include <algorithm>

namespace {

constexpr int32_t kAccBridge = 0x0040;
constexpr int32_t kAccSynthetic = 0x1000;
constexpr int32_t kAccEnum = 0x4000;

}  // namespace

const char* methodFilter(const SnpClass& c, const SnpMethod& m) {
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
  return nullptr;
}

const char* classFilter(const SnpClass& c) {
  if (c.accessFlags & kAccSynthetic) return "synthetic class (a switch map)";
  return nullptr;
}

void applyFilters(Snapshot* s) {
  std::vector<SnpClass> kept;
  kept.reserve(s->classes.size());
  for (SnpClass& c : s->classes) {
    if (c.loaded && classFilter(c) != nullptr) continue;
    std::vector<int32_t> ids;
    std::vector<size_t> methods;
    for (size_t i = 0; i < c.methods.size(); i++) {
      if (methodFilter(c, s->method(c, i)) != nullptr) continue;
      ids.push_back(c.methodIds[i]);
      methods.push_back(c.methods[i]);
    }
    c.methodIds = std::move(ids);
    c.methods = std::move(methods);
    kept.push_back(std::move(c));
  }
  s->classes = std::move(kept);
}
