#include "tools/snp/merge.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>
#include <unordered_set>

#include "tools/snp/figures.h"
#include "tools/snp/timestamp.h"

namespace {

// One class of one input with the methods that go with it: those it lists,
// then those that name it as their class without being listed, by ID.
struct Instance {
  size_t input;  // index into the age-ordered inputs
  const SnpClass* cls;
  std::vector<const SnpMethod*> methods;
  size_t listed;  // the first `listed` of methods are the class's own list
};

struct Unit {
  std::vector<Instance> instances;  // oldest input first
};

bool sameMethod(const SnpMethod& a, const SnpMethod& b) {
  return a.name == b.name && a.signature == b.signature && a.accessFlags == b.accessFlags && a.lines == b.lines;
}

bool sameStructure(const Instance& a, const Instance& b) {
  const SnpClass& x = *a.cls;
  const SnpClass& y = *b.cls;
  if (x.kind != y.kind || x.name != y.name || x.loaded != y.loaded) return false;
  if (x.hasSourceName != y.hasSourceName || x.sourceName != y.sourceName || x.accessFlags != y.accessFlags) {
    return false;
  }
  if (x.hasLines != y.hasLines || x.lineCount != y.lineCount) return false;
  if (a.listed != b.listed || a.methods.size() != b.methods.size()) return false;
  for (size_t i = 0; i < a.methods.size(); i++) {
    if (!sameMethod(*a.methods[i], *b.methods[i])) return false;
  }
  return true;
}

void addMethod(const SnpMethod& from, SnpMethod* to) {
  to->invocations = addCounters(to->invocations, from.invocations);
  to->markedInvocations = addCounters(to->markedInvocations, from.markedInvocations);
  for (size_t k = 0; k < to->hits.size(); k++) {
    to->hits[k] = addCounters(to->hits[k], from.hits[k]);
    to->markedHits[k] = addCounters(to->markedHits[k], from.markedHits[k]);
  }
}

// The inputs from oldest to newest.
std::vector<const MergeInput*> byAge(const std::vector<MergeInput>& inputs) {
  std::vector<std::tuple<bool, int64_t, size_t>> keys;
  for (size_t i = 0; i < inputs.size(); i++) {
    int64_t seconds = 0;
    bool dated = parseTimestamp(inputs[i].snapshot.signatureText("timestamp"), &seconds);
    keys.emplace_back(dated, dated ? seconds : 0, i);
  }
  std::sort(keys.begin(), keys.end());
  std::vector<const MergeInput*> out;
  for (const auto& key : keys) out.push_back(&inputs[std::get<2>(key)]);
  return out;
}

}  // namespace

uint32_t addCounters(uint32_t a, uint32_t b) { return b > UINT32_MAX - a ? UINT32_MAX : a + b; }

Snapshot mergeSnapshots(const std::vector<MergeInput>& inputs, std::vector<std::string>* warnings) {
  if (inputs.empty()) throw SnpError("nothing to merge");
  std::vector<const MergeInput*> aged = byAge(inputs);
  const Snapshot& newest = aged.back()->snapshot;
  for (const MergeInput* in : aged) {
    if (in->snapshot.version != newest.version || in->snapshot.snapVersion != newest.snapVersion) {
      throw SnpError(in->name + " is snapshot version " + in->snapshot.version + "/" +
                     std::to_string(in->snapshot.snapVersion) + ", " + aged.back()->name + " is " +
                     newest.version + "/" + std::to_string(newest.snapVersion));
    }
  }

  // Units keyed by name and rank among the classes of that name in one input.
  std::map<std::pair<std::string, size_t>, Unit> units;
  std::vector<std::pair<std::string, size_t>> order;  // newest input's classes first
  for (size_t n = aged.size(); n-- > 0;) {
    const Snapshot& s = aged[n]->snapshot;
    std::map<std::string, std::vector<const SnpClass*>> byName;
    std::map<int32_t, const SnpClass*> byId;
    for (const SnpClass& c : s.classes) {
      byName[c.name].push_back(&c);
      byId[c.id] = &c;
    }
    std::map<const SnpClass*, std::vector<const SnpMethod*>> unlisted;
    size_t dropped = 0;
    for (size_t index : s.orphanMethods) {
      auto owner = byId.find(s.methods[index].classId);
      if (owner == byId.end()) {
        dropped++;
      } else {
        unlisted[owner->second].push_back(&s.methods[index]);
      }
    }
    if (dropped > 0) {
      warnings->push_back(aged[n]->name + ": " + std::to_string(dropped) +
                          " methods of no class in the snapshot left out");
    }
    for (auto& entry : byName) {
      std::sort(entry.second.begin(), entry.second.end(),
                [](const SnpClass* a, const SnpClass* b) { return a->id < b->id; });
    }
    for (const SnpClass& c : s.classes) {
      const auto& same = byName[c.name];
      size_t rank = static_cast<size_t>(std::find(same.begin(), same.end(), &c) - same.begin());
      Instance instance{n, &c, {}, c.methods.size()};
      for (size_t i = 0; i < c.methods.size(); i++) instance.methods.push_back(&s.method(c, i));
      auto extra = unlisted.find(&c);
      if (extra != unlisted.end()) {
        std::sort(extra->second.begin(), extra->second.end(),
                  [](const SnpMethod* a, const SnpMethod* b) { return a->id < b->id; });
        instance.methods.insert(instance.methods.end(), extra->second.begin(), extra->second.end());
      }
      auto key = std::make_pair(c.name, rank);
      Unit& unit = units[key];
      if (unit.instances.empty()) order.push_back(key);
      unit.instances.insert(unit.instances.begin(), std::move(instance));
    }
  }

  Snapshot out;
  out.version = newest.version;
  out.snapVersion = newest.snapVersion;
  out.signature = newest.signature;

  std::unordered_set<int64_t> used;
  int64_t next = 0;
  struct Built {
    SnpClass cls;
    std::vector<SnpMethod> methods;
    size_t listed;
    // Of each method: its place in the newest input's MethodRoot, so that
    // the result keeps that order; others follow.
    std::vector<size_t> places;
  };
  std::vector<Built> built;
  std::vector<Built*> renumber;
  for (const auto& key : order) {
    const Unit& unit = units[key];
    // The reference: the newest instance that is loaded, else the newest.
    const Instance* ref = &unit.instances.back();
    for (const Instance& i : unit.instances) {
      if (i.cls->loaded) ref = &i;
    }
    Built b{*ref->cls, {}, ref->listed, {}};
    bool fromNewest = ref->input + 1 == aged.size();
    for (const SnpMethod* m : ref->methods) {
      b.methods.push_back(*m);
      b.places.push_back(fromNewest ? static_cast<size_t>(m - newest.methods.data()) : SIZE_MAX);
    }
    std::set<size_t> differing;
    for (const Instance& i : unit.instances) {
      if (&i == ref || !i.cls->loaded) continue;
      if (!sameStructure(i, *ref)) {
        differing.insert(i.input);
        continue;
      }
      for (size_t m = 0; m < b.methods.size(); m++) addMethod(*i.methods[m], &b.methods[m]);
    }
    for (size_t input : differing) {
      warnings->push_back("class " + key.first + " differs between " + aged[input]->name + " and " +
                          aged[ref->input]->name + "; kept from " + aged[ref->input]->name);
    }
    built.push_back(std::move(b));
  }
  // IDs: keep each object's own where it is free, in the order above (the
  // newest input's first), else renumber the whole class.
  for (Built& b : built) {
    bool free = used.insert(b.cls.id).second;
    std::vector<int64_t> mine = {b.cls.id};
    for (const SnpMethod& m : b.methods) {
      free = free && used.insert(m.id).second;
      mine.push_back(m.id);
    }
    for (int64_t id : mine) next = std::max(next, id + 1);
    if (!free) renumber.push_back(&b);
  }
  for (Built* b : renumber) {
    int32_t oldId = b->cls.id;
    if (next + static_cast<int64_t>(b->methods.size()) >= INT32_MAX) throw SnpError("too many objects to number");
    while (used.count(next) != 0) next++;
    b->cls.id = static_cast<int32_t>(next);
    used.insert(next++);
    for (SnpMethod& m : b->methods) {
      while (used.count(next) != 0) next++;
      m.id = static_cast<int32_t>(next);
      used.insert(next++);
      if (m.classId == oldId) m.classId = b->cls.id;
    }
  }
  // MethodRoot order: the newest input's, then the rest as built.
  std::vector<std::tuple<size_t, size_t, SnpMethod*>> placed;
  for (Built& b : built) {
    for (size_t i = 0; i < b.methods.size(); i++) placed.emplace_back(b.places[i], placed.size(), &b.methods[i]);
  }
  std::sort(placed.begin(), placed.end(), [](const auto& a, const auto& b) {
    return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
  });
  for (const auto& p : placed) {
    out.methodById[std::get<2>(p)->id] = out.methods.size();
    out.methods.push_back(*std::get<2>(p));
  }
  for (Built& b : built) {
    SnpClass c = b.cls;
    c.methodIds.clear();
    c.methods.clear();
    for (size_t i = 0; i < b.methods.size(); i++) {
      size_t index = out.methodById[b.methods[i].id];
      if (i < b.listed) {
        c.methodIds.push_back(b.methods[i].id);
        c.methods.push_back(index);
      } else {
        out.orphanMethods.push_back(index);
      }
    }
    if (c.kind == SnpKind::kClass && c.loaded) applyFigures(countClass(out, c), &c);
    out.classes.push_back(std::move(c));
  }
  return out;
}
