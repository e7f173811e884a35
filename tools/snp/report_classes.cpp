#include "tools/snp/report_classes.h"

#include <algorithm>

#include "tools/snp/text.h"

bool hasCode(const SnpMethod& m) { return (m.accessFlags & (kAccAbstract | kAccNative)) == 0; }

std::vector<const SnpClass*> reportedClasses(const Snapshot& s) {
  std::vector<const SnpClass*> out;
  for (const SnpClass& c : s.classes) {
    if (!c.loaded) continue;
    // As JaCoCo: a type whose methods are all abstract (most interfaces) has
    // nothing to run, so nothing to report.
    bool any = false;
    for (size_t i = 0; i < c.methods.size() && !any; i++) any = hasCode(s.method(c, i));
    if (any) out.push_back(&c);
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
  for (size_t i = 0; i < c.methods.size(); i++) {
    const SnpMethod& m = s.method(c, i);
    if (hasCode(m)) k.method.add(m.invocations != 0);
  }
  k.cls.add(k.method.covered > 0);
  return k;
}

HeadlineLines::HeadlineLines(const Snapshot& s) {
  std::map<std::string, std::vector<const SnpClass*>> files;
  for (const SnpClass* c : reportedClasses(s)) {
    std::string path = sourcePath(*c);
    if (path.empty()) {
      Counter own = lineCounter(classLines(s, *c));
      owned_[c] = own;
      total_.add(own);
    } else {
      files[path].push_back(c);
    }
  }
  for (const auto& entry : files) {
    LineMap file;
    for (const SnpClass* c : entry.second) {
      for (size_t i = 0; i < c->methods.size(); i++) addLines(s.method(*c, i), &file);
    }
    std::map<int32_t, bool> claimed;
    for (const SnpClass* c : entry.second) {  // name order
      Counter own;
      for (const auto& line : classLines(s, *c)) {
        if (!claimed.insert({line.first, true}).second) continue;
        own.add(file[line.first].slotsHit > 0);
      }
      owned_[c] = own;
      total_.add(own);
    }
  }
}

Counter HeadlineLines::of(const SnpClass& c) const {
  auto it = owned_.find(&c);
  return it == owned_.end() ? Counter() : it->second;
}

Counter HeadlineLines::sum(const std::vector<const SnpClass*>& classes) const {
  Counter out;
  for (const SnpClass* c : classes) out.add(of(*c));
  return out;
}

ClassCounters headlineCounters(const Snapshot& s, const SnpClass& c, const HeadlineLines& lines) {
  ClassCounters k = classCounters(s, c);
  k.line = lines.of(c);
  return k;
}
