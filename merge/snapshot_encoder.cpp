#include "merge/snapshot_encoder.h"

#include <string.h>

#include <memory>
#include <vector>

#include "cci/records.h"
#include "snapshot/document.h"
#include "snapshot/format.h"
#include "support/element.h"
#include "support/serializer.h"

namespace {

struct ElementDeleter {
  void operator()(SElem* e) const { SEFree(e); }
};
using Element = std::unique_ptr<SElem, ElementDeleter>;

// The first failure met; building goes on harmlessly after it and the result
// is dropped.
struct Build {
  std::string* error;
  bool ok = true;

  void fail(const std::string& what) {
    if (ok) *error = what;
    ok = false;
  }
};

// A new named element (null after a failure, reported).
Element named(Build* b, int32_t capacity, const char* name) {
  Element e(SENewNamed(capacity, name));
  if (e == nullptr) b->fail("out of memory");
  return e;
}

void put(Build* b, SElem* named, const std::string& key, SElem* child) {
  Element held(child);
  if (named == nullptr || held == nullptr || !SENamedPut(named, key.c_str(), held.get())) {
    b->fail("out of memory");
    return;
  }
  static_cast<void>(held.release());  // the element holds it now
}

uint16_t narrow(Build* b, int64_t value, const std::string& what) {
  if (value < 0 || value > 0xFFFF) {
    b->fail("cannot write " + what + " " + std::to_string(value) +
            ": the agent's records hold 16 bits");
    return 0;
  }
  return static_cast<uint16_t>(value);
}

// Records as cci would hand them over, filled from the model, with the arrays
// they point at. They live only while the roots are built.
struct Records {
  std::vector<std::vector<CMethod>> methods;  // per class, contiguous
  std::vector<std::vector<uint16_t>> lines;
  std::vector<CClass> classes;
  std::vector<CInterface> interfaces;
};

void fillMethod(Build* b, const SnpMethod& m, std::vector<uint16_t>* lines, CMethod* r) {
  memset(r, 0, sizeof *r);
  std::string what = "method " + std::to_string(m.id);
  r->id = static_cast<uint32_t>(m.id);
  r->classId = static_cast<uint32_t>(m.classId);
  r->name = const_cast<char*>(m.name.c_str());
  r->signature = const_cast<char*>(m.signature.c_str());
  r->accessFlags = narrow(b, m.accessFlags, what + " access flags");
  r->lineCount = narrow(b, static_cast<int64_t>(m.lines.size()), what + " line count");
  for (int32_t line : m.lines) lines->push_back(narrow(b, line, what + " line number"));
  r->lineNumbers = lines->empty() ? nullptr : lines->data();
  r->hits = const_cast<uint32_t*>(m.hits.data());
  r->markedHits = const_cast<uint32_t*>(m.markedHits.data());
  r->invocations = m.invocations;
  r->markedInvocations = m.markedInvocations;
}

Element snapRoot(Build* b, const Snapshot& s) {
  Element e = named(b, 8, snapkey::kSnapRoot);
  put(b, e.get(), snapkey::kVersion, SENewString(s.version.c_str()));
  put(b, e.get(), snapkey::kSnapVersion, SENewInt32(s.snapVersion));
  return e;
}

// The members in the order the agent adds them, so that the table orders them
// as it does; members it never writes follow.
Element signature(Build* b, const Snapshot& s) {
  static const char* const kOrder[] = {snapkey::kHostName, snapkey::kUserName, snapkey::kTimestamp,
                                       snapkey::kComment, snapkey::kSourcePath};
  Element e = named(b, 5, snapkey::kSignature);
  std::vector<bool> done(s.signature.size(), false);
  for (const char* key : kOrder) {
    for (size_t i = 0; i < s.signature.size(); i++) {
      if (done[i] || s.signature[i].first != key) continue;
      const std::string& v = s.signature[i].second;
      put(b, e.get(), key, SENewStringN(v.data(), static_cast<int32_t>(v.size())));
      done[i] = true;
    }
  }
  for (size_t i = 0; i < s.signature.size(); i++) {
    if (done[i]) continue;
    const std::string& v = s.signature[i].second;
    put(b, e.get(), s.signature[i].first, SENewStringN(v.data(), static_cast<int32_t>(v.size())));
  }
  return e;
}

Element classRoot(Build* b, const Snapshot& s, Records* r) {
  r->methods.resize(s.classes.size());
  r->classes.resize(s.classes.size());
  r->interfaces.resize(s.classes.size());
  r->lines.reserve(s.methods.size());
  Element root = named(b, 200, snapkey::kClassRoot);
  for (size_t n = s.classes.size(); n-- > 0;) {
    const SnpClass& c = s.classes[n];
    std::string what = "class " + std::to_string(c.id);
    std::vector<CMethod>& methods = r->methods[n];
    methods.resize(c.methods.size());
    for (size_t i = 0; i < c.methods.size(); i++) {
      r->lines.emplace_back();
      fillMethod(b, s.method(c, i), &r->lines.back(), &methods[i]);
    }
    CObject object;
    if (c.kind == SnpKind::kInterface) {
      CInterface& i = r->interfaces[n];
      memset(&i, 0, sizeof i);
      i.id = static_cast<uint32_t>(c.id);
      i.accessFlags = narrow(b, c.accessFlags, what + " access flags");
      i.name = const_cast<char*>(c.name.c_str());
      i.sourceName = c.hasSourceName ? const_cast<char*>(c.sourceName.c_str()) : nullptr;
      i.methodCount = narrow(b, static_cast<int64_t>(methods.size()), what + " method count");
      i.methods = methods.data();
      object = {kCObjectInterface, &i};
    } else {
      CClass& k = r->classes[n];
      memset(&k, 0, sizeof k);
      k.id = static_cast<uint32_t>(c.id);
      k.name = const_cast<char*>(c.name.c_str());
      k.loaded = c.loaded ? 1 : 0;
      if (c.loaded) {
        k.accessFlags = narrow(b, c.accessFlags, what + " access flags");
        k.sourceName = c.hasSourceName ? const_cast<char*>(c.sourceName.c_str()) : nullptr;
        k.methodCount = narrow(b, static_cast<int64_t>(methods.size()), what + " method count");
        k.methods = methods.data();
        k.coverage = narrow(b, c.coverage, what + " coverage");
        k.coverageAtMark = narrow(b, c.coverageAtMark, what + " coverage at the mark");
        k.coverageSinceMark = narrow(b, c.coverageSinceMark, what + " coverage since the mark");
        k.hasLines = c.hasLines ? 1 : 0;
        k.lineCount = c.hasLines ? narrow(b, c.lineCount, what + " line count") : 0;
        k.missedLines = c.missedLines;
        k.missedLinesSinceMark = c.missedLinesSinceMark;
      }
      object = {kCObjectClass, &k};
    }
    put(b, root.get(), std::to_string(c.id), makeObjectElement(&object));
  }
  return root;
}

Element methodRoot(Build* b, const Snapshot& s) {
  Element root = named(b, 200, snapkey::kMethodRoot);
  for (size_t n = s.methods.size(); n-- > 0;) {
    const SnpMethod& m = s.methods[n];
    std::vector<uint16_t> lines;
    CMethod record;
    fillMethod(b, m, &lines, &record);
    CObject object = {kCObjectMethod, &record};
    put(b, root.get(), std::to_string(m.id), makeObjectElement(&object));
  }
  return root;
}

}  // namespace

bool buildSnapshotItems(const Snapshot& s, SnapshotItems* out, std::string* error) {
  Build b{error};
  Element items[4];
  items[0] = snapRoot(&b, s);
  items[1] = signature(&b, s);
  {
    Records records;
    items[2] = classRoot(&b, s, &records);
  }
  items[3] = methodRoot(&b, s);
  if (!b.ok) return false;
  for (int i = 0; i < 4; i++) out->items[i] = items[i].release();
  return true;
}

void writeSnapshotItems(SEStream* stream, const SnapshotItems& items) {
  for (const SElem* item : items.items) SEWrite(stream, item);
  SEWriteInt32(stream, snapshotEndMarker);
}

void freeSnapshotItems(SnapshotItems* items) {
  for (SElem*& item : items->items) {
    SEFree(item);
    item = nullptr;
  }
}
