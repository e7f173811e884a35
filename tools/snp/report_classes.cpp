#include "tools/snp/report_classes.h"

#include <string.h>

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

namespace {

// One field type at *at, as Java writes it; false when it isn't one.
bool javaType(const std::string& d, size_t* at, std::string* out) {
  size_t dims = 0;
  while (*at < d.size() && d[*at] == '[') dims++, (*at)++;
  if (*at >= d.size()) return false;
  static const char kCodes[] = "BCDFIJSZ";
  static const char* const kNames[] = {"byte", "char", "double", "float",
                                       "int",  "long", "short",  "boolean"};
  char code = d[(*at)++];
  if (code == 'L') {
    size_t end = d.find(';', *at);
    if (end == std::string::npos) return false;
    std::string name = d.substr(*at, end - *at);
    size_t cut = name.find_last_of("/$");
    *out = cut == std::string::npos ? name : name.substr(cut + 1);
    *at = end + 1;
  } else {
    const char* found = strchr(kCodes, code);
    if (found == nullptr || code == '\0') return false;
    *out = kNames[found - kCodes];
  }
  for (size_t k = 0; k < dims; k++) *out += "[]";
  return true;
}

}  // namespace

std::string javaMethodName(const SnpClass& c, const SnpMethod& m) {
  std::string name = toUtf8(m.name);
  if (name == "<clinit>") return "static {...}";
  const std::string& d = m.signature;
  std::string params;
  size_t at = 1;
  if (d.empty() || d[0] != '(') return methodLabel(m);
  while (at < d.size() && d[at] != ')') {
    std::string type;
    if (!javaType(d, &at, &type)) return methodLabel(m);
    params += (params.empty() ? "" : ", ") + type;
  }
  if (at >= d.size()) return methodLabel(m);
  if (name == "<init>") {
    std::string simple = toUtf8(c.name);
    size_t cut = simple.find_last_of("/$");
    if (cut != std::string::npos) simple = simple.substr(cut + 1);
    name = simple;
  } else if (name.rfind("lambda$", 0) == 0) {
    // javac: lambda$<enclosing method>$<n>; "static" for a field initialiser's.
    size_t last = name.rfind('$');
    std::string enclosing = name.substr(7, last > 7 ? last - 7 : 0);
    if (enclosing == "new") enclosing = "constructor";
    if (enclosing == "static") enclosing = "static {...}";
    name = enclosing + ": lambda #" + name.substr(last + 1);
  }
  return name + "(" + params + ")";
}

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
