#include "tools/snp/report_input.h"

#include <algorithm>
#include <map>
#include <unordered_map>

#include "tools/snp/command.h"
#include "tools/snp/figures.h"
#include "tools/snp/filters.h"
#include "tools/snp/merge.h"
#include "tools/snp/text.h"

namespace {

bool sameCode(const Snapshot& s, const SnpClass& a, const SnpClass& b) {
  if (a.methods.size() != b.methods.size()) return false;
  for (size_t i = 0; i < a.methods.size(); i++) {
    const SnpMethod& x = s.method(a, i);
    const SnpMethod& y = s.method(b, i);
    if (x.name != y.name || x.signature != y.signature || x.lines != y.lines) return false;
  }
  return true;
}

// Whether the class file is the class the run loaded. A method that has line
// slots in the class file and none in the run is one the runtime could not
// instrument (too large once instrumented, or its class's pool full): it
// matches, and *uncounted lists it.
bool matchesClassFile(const Snapshot& s, const SnpClass& c, const ClassFileClass& file,
                      std::vector<size_t>* uncounted) {
  if (c.methods.size() != file.methods.size()) return false;
  for (size_t i = 0; i < c.methods.size(); i++) {
    const SnpMethod& m = s.method(c, i);
    const ClassFileMethod& f = file.methods[i];
    if (m.name != f.name || m.signature != f.descriptor) return false;
    if (m.lines.empty() && !f.lines.empty()) {
      uncounted->push_back(i);
    } else if (m.lines != f.lines) {
      return false;
    }
  }
  return true;
}

void addInto(SnpMethod* to, const SnpMethod& from) {
  to->invocations = addCounters(to->invocations, from.invocations);
  to->markedInvocations = addCounters(to->markedInvocations, from.markedInvocations);
  for (size_t k = 0; k < to->hits.size(); k++) {
    to->hits[k] = addCounters(to->hits[k], from.hits[k]);
    to->markedHits[k] = addCounters(to->markedHits[k], from.markedHits[k]);
  }
}

bool sameDescription(const ClassFileClass& a, const ClassFileClass& b) {
  if (a.sourceFile != b.sourceFile || a.methods.size() != b.methods.size()) return false;
  for (size_t i = 0; i < a.methods.size(); i++) {
    if (a.methods[i].name != b.methods[i].name ||
        a.methods[i].descriptor != b.methods[i].descriptor ||
        a.methods[i].lines != b.methods[i].lines) {
      return false;
    }
  }
  return true;
}

int32_t largestId(const Snapshot& s) {
  int32_t id = 0;
  for (const SnpClass& c : s.classes) id = std::max(id, c.id);
  for (const SnpMethod& m : s.methods) id = std::max(id, m.id);
  return id;
}

}  // namespace

void mergeLoaderDuplicates(Snapshot* s, std::vector<std::string>* warnings) {
  std::map<std::pair<int, std::string>, size_t> first;
  std::vector<bool> dropped(s->classes.size(), false);
  std::vector<bool> changed(s->classes.size(), false);
  for (size_t k = 0; k < s->classes.size(); k++) {
    const SnpClass& c = s->classes[k];
    if (!c.loaded) continue;
    auto [it, added] = first.insert({{static_cast<int>(c.kind), c.name}, k});
    if (added) continue;
    SnpClass& keep = s->classes[it->second];
    if (!sameCode(*s, keep, c)) {
      warnings->push_back("class " + toUtf8(dottedName(c.name)) +
                          " is loaded by several class loaders with different code; "
                          "each is reported on its own");
      continue;
    }
    for (size_t i = 0; i < c.methods.size(); i++) {
      addInto(&s->methods[keep.methods[i]], s->method(c, i));
    }
    dropped[k] = true;
    changed[it->second] = true;
  }
  std::vector<SnpClass> kept;
  for (size_t k = 0; k < s->classes.size(); k++) {
    if (dropped[k]) continue;
    if (changed[k] && s->classes[k].kind == SnpKind::kClass) {
      applyFigures(countClass(*s, s->classes[k]), &s->classes[k]);
    }
    kept.push_back(std::move(s->classes[k]));
  }
  s->classes = std::move(kept);
}

void addClassFiles(const std::vector<ClassFileClass>& files, Snapshot* s,
                   std::vector<std::string>* warnings, DescribedClasses* described) {
  std::unordered_map<std::string, size_t> byName;  // loaded first, else any
  for (size_t k = 0; k < s->classes.size(); k++) {
    auto [it, added] = byName.insert({s->classes[k].name, k});
    if (!added && s->classes[k].loaded && !s->classes[it->second].loaded) it->second = k;
  }
  std::unordered_map<std::string, const ClassFileClass*> seen;
  int32_t nextId = largestId(*s);
  for (const ClassFileClass& file : files) {
    auto [was, fresh] = seen.insert({file.name, &file});
    if (!fresh) {
      // The same class on two paths (a folder and the jar built from it) is
      // one class; two different ones can't both be the one the run saw.
      if (sameDescription(*was->second, file)) continue;
      warnings->push_back("class " + toUtf8(dottedName(file.name)) + " is in both " +
                          was->second->origin + " and " + file.origin + "; the first is used");
      continue;
    }
    auto found = byName.find(file.name);
    if (found != byName.end() && s->classes[found->second].loaded) {
      const SnpClass& c = s->classes[found->second];
      std::vector<size_t> uncounted;
      if (!matchesClassFile(*s, c, file, &uncounted)) {
        warnings->push_back("class " + toUtf8(dottedName(file.name)) + ": " + file.origin +
                            " differs from the class the run loaded (other methods or line "
                            "slots); reported from the snapshot");
        continue;
      }
      if (described != nullptr) (*described)[c.id] = &file;
      for (size_t i : uncounted) {
        std::vector<int32_t>& lines = s->methods[c.methods[i]].uncountedLines;
        for (int32_t line : file.methods[i].lines) {
          if (std::find(lines.begin(), lines.end(), line) == lines.end()) lines.push_back(line);
        }
      }
      continue;
    }
    SnpClass c;
    c.kind = file.isInterface() ? SnpKind::kInterface : SnpKind::kClass;
    c.id = ++nextId;
    c.name = file.name;
    c.loaded = true;
    c.fromClassFile = true;
    c.hasSourceName = file.hasSourceFile;
    if (file.hasSourceFile) c.sourceName = file.sourceFile;
    c.accessFlags = file.accessFlags;
    for (const ClassFileMethod& f : file.methods) {
      SnpMethod m;
      m.id = ++nextId;
      m.classId = c.id;
      m.name = f.name;
      m.signature = f.descriptor;
      m.accessFlags = f.accessFlags;
      m.lines = f.lines;
      m.hits.assign(f.lines.size(), 0);
      m.markedHits.assign(f.lines.size(), 0);
      c.lineCount += static_cast<int32_t>(f.lines.size());
      c.methodIds.push_back(m.id);
      c.methods.push_back(s->methods.size());
      s->methodById[m.id] = s->methods.size();
      s->methods.push_back(std::move(m));
    }
    c.hasLines = c.lineCount > 0;
    if (c.kind == SnpKind::kClass) applyFigures(countClass(*s, c), &c);
    if (described != nullptr) (*described)[c.id] = &file;
    if (found != byName.end()) {
      s->classes[found->second] = std::move(c);  // the run knew its name only
    } else {
      byName[file.name] = s->classes.size();
      s->classes.push_back(std::move(c));
    }
  }
}

Snapshot loadReportInput(const std::vector<std::string>& snapshots,
                         const std::vector<std::string>& classPaths, bool filters,
                         std::vector<std::string>* warnings) {
  std::vector<MergeInput> inputs;
  for (const std::string& path : snapshots) {
    try {
      inputs.push_back({path, loadSnapshot(path)});
    } catch (const SnpError& e) {
      throw FileError{path, e.what()};
    }
  }
  Snapshot s =
      inputs.size() == 1 ? std::move(inputs[0].snapshot) : mergeSnapshots(inputs, warnings);
  mergeLoaderDuplicates(&s, warnings);
  std::vector<ClassFileClass> files;
  DescribedClasses described;
  if (!classPaths.empty()) {
    files = readClassPaths(classPaths);
    addClassFiles(files, &s, warnings, &described);
  }
  if (filters) applyFilters(&s, described, warnings);
  return s;
}
