#include "merge/merge.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>
#include <unordered_set>

#include "merge/class_figures.h"
#include "merge/timestamp.h"

namespace {

// One class of one input with the methods that go with it: those it lists,
// then those that name it as their class without being listed, by ID.
struct Instance {
  size_t input;  // index into the age-ordered inputs
  const SnpClass* cls;
  std::vector<const SnpMethod*> methods;
  size_t listed;  // the first `listed` of methods are the class's own list
};

// The instances of one class in every input, keyed by name and rank among the
// classes of that name in one input.
using UnitKey = std::pair<std::string, size_t>;
struct Unit {
  std::vector<Instance> instances;  // oldest input first
};
struct Units {
  std::map<UnitKey, Unit> byKey;
  std::vector<UnitKey> order;  // the newest input's classes first
};

// A class of the result with its methods, before IDs are settled.
struct Built {
  SnpClass cls;
  std::vector<SnpMethod> methods;
  size_t listed;
  // Of each method: its place in the newest input's MethodRoot, so that the
  // result keeps that order; others follow.
  std::vector<size_t> places;
};

bool sameMethod(const SnpMethod& a, const SnpMethod& b) {
  return a.name == b.name && a.signature == b.signature && a.accessFlags == b.accessFlags &&
         a.lines == b.lines;
}

bool sameStructure(const Instance& a, const Instance& b) {
  const SnpClass& x = *a.cls;
  const SnpClass& y = *b.cls;
  if (x.kind != y.kind || x.name != y.name || x.loaded != y.loaded) return false;
  if (x.hasSourceName != y.hasSourceName || x.sourceName != y.sourceName ||
      x.accessFlags != y.accessFlags) {
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
  out.reserve(keys.size());
  for (const auto& key : keys) out.push_back(&inputs[std::get<2>(key)]);
  return out;
}

bool checkVersions(const std::vector<const MergeInput*>& aged, std::string* error) {
  const MergeInput& newest = *aged.back();
  for (const MergeInput* in : aged) {
    const Snapshot& s = in->snapshot;
    if (s.version != newest.snapshot.version || s.snapVersion != newest.snapshot.snapVersion) {
      *error = (in->name + " is snapshot version " + s.version + "/" +
                std::to_string(s.snapVersion) + ", " + newest.name + " is " +
                newest.snapshot.version + "/" + std::to_string(newest.snapshot.snapVersion));
      return false;
    }
  }
  return true;
}

// Two inputs of one Signature (host, user, time to the second, comment) and
// the same objects and counters are one run given twice: their sum counts it
// twice. Runs that end in the same second on one machine share a Signature
// too, but not their counters, and are not reported.
bool sameRun(const Snapshot& a, const Snapshot& b) {
  if (a.signature != b.signature || a.classes.size() != b.classes.size() ||
      a.methods.size() != b.methods.size()) {
    return false;
  }
  for (size_t i = 0; i < a.classes.size(); i++) {
    const SnpClass& x = a.classes[i];
    const SnpClass& y = b.classes[i];
    if (x.id != y.id || x.name != y.name || x.loaded != y.loaded || x.methodIds != y.methodIds) {
      return false;
    }
  }
  for (size_t i = 0; i < a.methods.size(); i++) {
    const SnpMethod& x = a.methods[i];
    const SnpMethod& y = b.methods[i];
    if (x.id != y.id || x.invocations != y.invocations ||
        x.markedInvocations != y.markedInvocations || x.hits != y.hits ||
        x.markedHits != y.markedHits) {
      return false;
    }
  }
  return true;
}

// Still merged, as asked, but said.
void warnSameRuns(const std::vector<MergeInput>& inputs, std::vector<std::string>* warnings) {
  for (size_t i = 1; i < inputs.size(); i++) {
    for (size_t j = 0; j < i; j++) {
      if (sameRun(inputs[i].snapshot, inputs[j].snapshot)) {
        warnings->push_back(inputs[i].name + " is the same run as " + inputs[j].name +
                            " (same Signature and counters): its counts are added twice");
        break;
      }
    }
  }
}

// One input's classes as instances, each with its listed methods and then the
// methods that name it without being listed. Methods of no class in the input
// are left out, with a warning.
std::vector<Instance> instancesOf(const Snapshot& s, size_t input, const std::string& name,
                                  std::vector<std::string>* warnings) {
  std::map<int32_t, const SnpClass*> byId;
  for (const SnpClass& c : s.classes) byId[c.id] = &c;
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
    warnings->push_back(name + ": " + std::to_string(dropped) +
                        " methods of no class in the snapshot left out");
  }
  std::vector<Instance> out;
  for (const SnpClass& c : s.classes) {
    Instance instance{input, &c, {}, c.methods.size()};
    for (size_t i = 0; i < c.methods.size(); i++) instance.methods.push_back(&s.method(c, i));
    auto extra = unlisted.find(&c);
    if (extra != unlisted.end()) {
      std::sort(extra->second.begin(), extra->second.end(),
                [](const SnpMethod* a, const SnpMethod* b) { return a->id < b->id; });
      instance.methods.insert(instance.methods.end(), extra->second.begin(), extra->second.end());
    }
    out.push_back(std::move(instance));
  }
  return out;
}

// Of each class of s, its rank in ID order among the classes of its name.
std::vector<size_t> ranksByName(const Snapshot& s) {
  std::map<std::string, std::vector<const SnpClass*>> byName;
  for (const SnpClass& c : s.classes) byName[c.name].push_back(&c);
  for (auto& entry : byName) {
    std::sort(entry.second.begin(), entry.second.end(),
              [](const SnpClass* a, const SnpClass* b) { return a->id < b->id; });
  }
  std::vector<size_t> ranks;
  for (const SnpClass& c : s.classes) {
    const auto& same = byName[c.name];
    ranks.push_back(static_cast<size_t>(std::find(same.begin(), same.end(), &c) - same.begin()));
  }
  return ranks;
}

// Every input's classes matched into units, newest input first.
Units matchClasses(const std::vector<const MergeInput*>& aged, std::vector<std::string>* warnings) {
  Units units;
  for (size_t n = aged.size(); n-- > 0;) {
    const Snapshot& s = aged[n]->snapshot;
    std::vector<Instance> instances = instancesOf(s, n, aged[n]->name, warnings);
    std::vector<size_t> ranks = ranksByName(s);
    for (size_t i = 0; i < instances.size(); i++) {
      UnitKey key(instances[i].cls->name, ranks[i]);
      Unit& unit = units.byKey[key];
      if (unit.instances.empty()) units.order.push_back(key);
      unit.instances.insert(unit.instances.begin(), std::move(instances[i]));
    }
  }
  return units;
}

// The unit's class with the counters of every instance of the same structure
// added to the reference: the newest instance that is loaded, else the newest.
Built addUp(const UnitKey& key, const Unit& unit, const std::vector<const MergeInput*>& aged,
            std::vector<std::string>* warnings) {
  const Snapshot& newest = aged.back()->snapshot;
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
  const std::string& kept = aged[ref->input]->name;
  for (size_t input : differing) {
    std::string warning = "class " + key.first;
    warning += " differs between " + aged[input]->name;
    warning += " and " + kept;
    warning += "; kept from " + kept;
    warnings->push_back(std::move(warning));
  }
  return b;
}

// IDs: each object keeps its own where it is free, in the order built (the
// newest input's first); a class with any ID taken is renumbered whole, above
// the largest ID in use.
bool settleIds(std::vector<Built>* built, std::string* error) {
  std::unordered_set<int64_t> used;
  int64_t next = 0;
  std::vector<Built*> renumber;
  for (Built& b : *built) {
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
    if (next + static_cast<int64_t>(b->methods.size()) >= INT32_MAX) {
      *error = "too many objects to number";
      return false;
    }
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
  return true;
}

// The result's MethodRoot (the newest input's order, then the rest as built)
// and ClassRoot, with every class's figures recomputed from its counters.
void assemble(std::vector<Built>* built, Snapshot* out) {
  std::vector<std::tuple<size_t, size_t, SnpMethod*>> placed;
  for (Built& b : *built) {
    for (size_t i = 0; i < b.methods.size(); i++) {
      placed.emplace_back(b.places[i], placed.size(), &b.methods[i]);
    }
  }
  std::sort(placed.begin(), placed.end(), [](const auto& a, const auto& b) {
    return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
  });
  for (const auto& p : placed) {
    out->methodById[std::get<2>(p)->id] = out->methods.size();
    out->methods.push_back(*std::get<2>(p));
  }
  for (Built& b : *built) {
    SnpClass c = b.cls;
    c.methodIds.clear();
    c.methods.clear();
    for (size_t i = 0; i < b.methods.size(); i++) {
      size_t index = out->methodById[b.methods[i].id];
      if (i < b.listed) {
        c.methodIds.push_back(b.methods[i].id);
        c.methods.push_back(index);
      } else {
        out->orphanMethods.push_back(index);
      }
    }
    if (c.kind == SnpKind::kClass && c.loaded) applyFigures(countClass(*out, c), &c);
    out->classes.push_back(std::move(c));
  }
}

}  // namespace

uint32_t addCounters(uint32_t a, uint32_t b) { return b > UINT32_MAX - a ? UINT32_MAX : a + b; }

bool mergeSnapshots(const std::vector<MergeInput>& inputs, Snapshot* result,
                    std::vector<std::string>* warnings, std::string* error) {
  if (inputs.empty()) {
    *error = "nothing to merge";
    return false;
  }
  std::vector<const MergeInput*> aged = byAge(inputs);
  if (!checkVersions(aged, error)) return false;
  warnSameRuns(inputs, warnings);
  Units units = matchClasses(aged, warnings);
  std::vector<Built> built;
  for (const UnitKey& key : units.order) {
    built.push_back(addUp(key, units.byKey[key], aged, warnings));
  }
  if (!settleIds(&built, error)) return false;

  const Snapshot& newest = aged.back()->snapshot;
  Snapshot out;
  out.version = newest.version;
  out.snapVersion = newest.snapVersion;
  out.signature = newest.signature;
  assemble(&built, &out);
  *result = std::move(out);
  return true;
}
