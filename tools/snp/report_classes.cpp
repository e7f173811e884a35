#include "tools/snp/report_classes.h"

#include <algorithm>

#include "tools/snp/text.h"

std::vector<const SnpClass*> reportedClasses(const Snapshot& s) {
  std::vector<const SnpClass*> out;
  for (const SnpClass& c : s.classes) {
    if (c.kind == SnpKind::kClass && c.loaded) out.push_back(&c);
  }
  std::stable_sort(out.begin(), out.end(), [](const SnpClass* a, const SnpClass* b) {
    return vmName(a->name) < vmName(b->name);
  });
  return out;
}

std::map<std::string, std::vector<const SnpClass*>> classesByPackage(const Snapshot& s) {
  std::map<std::string, std::vector<const SnpClass*>> out;
  for (const SnpClass* c : reportedClasses(s)) out[packageOf(c->name)].push_back(c);
  return out;
}

std::map<std::string, std::vector<const SnpClass*>> classesBySource(const Snapshot& s) {
  std::map<std::string, std::vector<const SnpClass*>> out;
  for (const SnpClass* c : reportedClasses(s)) {
    std::string path = sourcePath(*c);
    if (!path.empty()) out[path].push_back(c);
  }
  return out;
}

LineMap methodLines(const SnpMethod& m) {
  LineMap lines;
  addLines(m, &lines);
  lines.erase(lines.begin(), lines.lower_bound(1));
  return lines;
}

LineMap classLines(const Snapshot& s, const SnpClass& c) {
  LineMap lines;
  for (size_t i = 0; i < c.methods.size(); i++) addLines(s.method(c, i), &lines);
  lines.erase(lines.begin(), lines.lower_bound(1));
  return lines;
}

std::string methodLabel(const SnpMethod& m) { return toUtf8(m.name) + toUtf8(m.signature); }

Counter lineCounter(const LineMap& lines) {
  Counter counter;
  for (const auto& entry : lines) counter.add(entry.second.slotsHit > 0);
  return counter;
}

ClassCounters classCounters(const Snapshot& s, const SnpClass& c) {
  ClassCounters k;
  k.line = lineCounter(classLines(s, c));
  for (size_t i = 0; i < c.methods.size(); i++) k.method.add(s.method(c, i).invocations != 0);
  k.cls.add(k.method.covered > 0);
  return k;
}
