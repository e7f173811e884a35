#include "merge/snapshot.h"

#include <memory>

#include "snapshot/format.h"
#include "support/reader.h"

namespace {

constexpr int32_t kTypeClass = 'c';
constexpr int32_t kTypeInterface = 'i';
constexpr int32_t kTypeMethod = 'm';

// The first shape failure met, as "not a snapshot: ..."; the readers below go
// on with harmless defaults after it, and the caller stops at the next check.
struct Shape {
  std::string* error;
  bool ok = true;

  void fail(const std::string& what) {
    if (ok) *error = "not a snapshot: " + what;
    ok = false;
  }
};

// Where a member sits, for error texts: ClassRoot member "12" (offset 345).
std::string place(const char* root, const std::string& key, const SEView* v) {
  return std::string(root) + " member \"" + key + "\" (offset " + std::to_string(v->offset) + ")";
}

const SEView* member(Shape* sh, const SEView* e, const char* key, const std::string& where) {
  const SEView* v = SEViewFind(e, key);
  if (v == nullptr) sh->fail(where + " has no \"" + key + "\"");
  return v;
}

int32_t intMember(Shape* sh, const SEView* e, const char* key, const std::string& where) {
  const SEView* v = member(sh, e, key, where);
  if (v == nullptr) return 0;
  if (v->kind != SE_INT32) {
    sh->fail(where + ": \"" + key + "\" is not an integer");
    return 0;
  }
  return static_cast<int32_t>(v->number);
}

std::string textMember(Shape* sh, const SEView* e, const char* key, const std::string& where) {
  const SEView* v = member(sh, e, key, where);
  if (v == nullptr) return std::string();
  if (v->kind != SE_STRING) {
    sh->fail(where + ": \"" + key + "\" is not a string");
    return std::string();
  }
  return SEViewText(v);
}

// A list of integers; count checked by the caller where it must match.
template <typename T>
std::vector<T> intList(Shape* sh, const SEView* e, const char* key, const std::string& where) {
  std::vector<T> out;
  const SEView* v = member(sh, e, key, where);
  if (v == nullptr) return out;
  if (v->kind != SE_LIST) {
    sh->fail(where + ": \"" + key + "\" is not a list");
    return out;
  }
  out.reserve(static_cast<size_t>(v->count));
  for (int32_t i = 0; i < v->count; i++) {
    const SEView& item = v->items[i];
    if (item.kind != SE_INT32) {
      sh->fail(where + ": \"" + key + "\" holds a non-integer");
      return out;
    }
    out.push_back(static_cast<T>(static_cast<int32_t>(item.number)));
  }
  return out;
}

const SEView* namedItem(Shape* sh, const SESnapshotView& view, int32_t index, const char* name) {
  if (index >= view.count) {
    sh->fail("no " + std::string(name) + " (only " + std::to_string(view.count) + " items)");
    return nullptr;
  }
  const SEView* v = &view.items[index];
  if (v->kind != SE_NAMED) {
    sh->fail(std::string(name) + " is not a named element");
    return nullptr;
  }
  return v;
}

void readClass(Shape* sh, const SEView* e, int32_t type, const std::string& where, SnpClass* c) {
  c->kind = type == kTypeClass ? SnpKind::kClass : SnpKind::kInterface;
  c->id = intMember(sh, e, snapkey::kId, where);
  c->name = textMember(sh, e, snapkey::kName, where);
  if (type == kTypeClass) {
    const SEView* lod = SEViewFind(e, snapkey::kLoaded);
    if (lod != nullptr && lod->kind == SE_INT32 && lod->number == 0) {
      c->loaded = false;
      return;
    }
  }
  std::string sn = textMember(sh, e, snapkey::kSourceName, where);
  c->hasSourceName = sn != "0";
  if (c->hasSourceName) c->sourceName = sn;
  c->accessFlags = intMember(sh, e, snapkey::kAccessFlags, where);
  c->methodIds = intList<int32_t>(sh, e, snapkey::kMethodIds, where);
  if (type != kTypeClass) return;
  c->coverage = intMember(sh, e, snapkey::kCoverage, where);
  c->coverageAtMark = intMember(sh, e, snapkey::kCoverageAtMark, where);
  c->coverageSinceMark = intMember(sh, e, snapkey::kCoverageSinceMark, where);
  c->hasLines = SEViewFind(e, snapkey::kLineCount) != nullptr;
  if (c->hasLines) {
    c->lineCount = intMember(sh, e, snapkey::kLineCount, where);
    c->missedLines = intMember(sh, e, snapkey::kMissedLines, where);
    c->missedLinesSinceMark = intMember(sh, e, snapkey::kMissedLinesSinceMark, where);
  }
}

void readMethod(Shape* sh, const SEView* e, const std::string& where, SnpMethod* m) {
  m->id = intMember(sh, e, snapkey::kId, where);
  m->classId = intMember(sh, e, snapkey::kClassId, where);
  m->name = textMember(sh, e, snapkey::kName, where);
  m->signature = textMember(sh, e, snapkey::kSignatureText, where);
  m->accessFlags = intMember(sh, e, snapkey::kAccessFlags, where);
  m->invocations = static_cast<uint32_t>(intMember(sh, e, snapkey::kInvocations, where));
  m->markedInvocations =
      static_cast<uint32_t>(intMember(sh, e, snapkey::kMarkedInvocations, where));
  if (SEViewFind(e, snapkey::kLineNumbers) == nullptr) return;
  m->lines = intList<int32_t>(sh, e, snapkey::kLineNumbers, where);
  m->hits = intList<uint32_t>(sh, e, snapkey::kHits, where);
  m->markedHits = intList<uint32_t>(sh, e, snapkey::kMarkedHits, where);
  if (m->hits.size() != m->lines.size() || m->markedHits.size() != m->lines.size()) {
    sh->fail(where + ": \"ln\", \"lc\" and \"lm\" differ in length");
  }
}

int32_t typeOf(Shape* sh, const SEView* e, const std::string& where) {
  if (e->kind != SE_NAMED) {
    sh->fail(where + " is not a named element");
    return 0;
  }
  return intMember(sh, e, snapkey::kType, where);
}

bool readMethods(Shape* sh, const SEView* methodRoot, Snapshot* s) {
  s->methods.resize(static_cast<size_t>(methodRoot->count));
  for (int32_t i = 0; i < methodRoot->count && sh->ok; i++) {
    const SEViewMember& m = methodRoot->members[i];
    std::string where = place("MethodRoot", m.key, m.value);
    int32_t type = typeOf(sh, m.value, where);
    if (!sh->ok) break;
    if (type != kTypeMethod) {
      sh->fail(where + " is not a method (\"t\" is not 109)");
      break;
    }
    SnpMethod& method = s->methods[static_cast<size_t>(i)];
    readMethod(sh, m.value, where, &method);
    if (!sh->ok) break;
    if (std::to_string(method.id) != m.key) {
      sh->fail(where + " holds \"id\" " + std::to_string(method.id));
    } else if (!s->methodById.emplace(method.id, static_cast<size_t>(i)).second) {
      sh->fail("MethodRoot holds method " + std::to_string(method.id) + " twice");
    }
  }
  return sh->ok;
}

bool readClasses(Shape* sh, const SEView* classRoot, Snapshot* s) {
  std::vector<bool> listed(s->methods.size(), false);
  std::unordered_map<int32_t, bool> classIds;
  s->classes.resize(static_cast<size_t>(classRoot->count));
  for (int32_t i = 0; i < classRoot->count && sh->ok; i++) {
    const SEViewMember& m = classRoot->members[i];
    std::string where = place("ClassRoot", m.key, m.value);
    int32_t type = typeOf(sh, m.value, where);
    if (!sh->ok) break;
    if (type != kTypeClass && type != kTypeInterface) {
      sh->fail(where + " is neither a class nor an interface (\"t\" " + std::to_string(type) + ")");
      break;
    }
    SnpClass& c = s->classes[static_cast<size_t>(i)];
    readClass(sh, m.value, type, where, &c);
    if (!sh->ok) break;
    if (std::to_string(c.id) != m.key) {
      sh->fail(where + " holds \"id\" " + std::to_string(c.id));
      break;
    }
    if (!classIds.emplace(c.id, true).second) {
      sh->fail("ClassRoot holds class " + std::to_string(c.id) + " twice");
      break;
    }
    c.methods.reserve(c.methodIds.size());
    for (int32_t id : c.methodIds) {
      auto found = s->methodById.find(id);
      if (found == s->methodById.end()) {
        sh->fail(where + " lists method " + std::to_string(id) + ", which MethodRoot lacks");
        break;
      }
      if (listed[found->second]) {
        sh->fail("method " + std::to_string(id) + " is listed twice");
        break;
      }
      listed[found->second] = true;
      c.methods.push_back(found->second);
    }
  }
  if (!sh->ok) return false;
  for (size_t i = 0; i < listed.size(); i++) {
    if (!listed[i]) s->orphanMethods.push_back(i);
  }
  return true;
}

}  // namespace

std::string Snapshot::signatureText(const std::string& key) const {
  for (const auto& [k, v] : signature) {
    if (k == key) return std::string(v.c_str());
  }
  return "";
}

bool Snapshot::hasSignature(const std::string& key) const {
  for (const auto& member : signature) {
    if (member.first == key) return true;
  }
  return false;
}

bool modelFromView(const SESnapshotView& view, Snapshot* out, std::string* error) {
  Shape sh{error};
  Snapshot s;
  const SEView* root = namedItem(&sh, view, 0, snapkey::kSnapRoot);
  if (root == nullptr) return false;
  s.version = textMember(&sh, root, snapkey::kVersion, snapkey::kSnapRoot);
  s.snapVersion = intMember(&sh, root, snapkey::kSnapVersion, snapkey::kSnapRoot);
  if (!sh.ok) return false;

  const SEView* signature = namedItem(&sh, view, 1, snapkey::kSignature);
  if (signature == nullptr) return false;
  for (int32_t i = 0; i < signature->count; i++) {
    const SEViewMember& m = signature->members[i];
    if (m.value->kind != SE_STRING) {
      sh.fail("Signature member \"" + std::string(m.key) + "\" is not a string");
      return false;
    }
    s.signature.emplace_back(m.key,
                             std::string(m.value->bytes, static_cast<size_t>(m.value->count)));
  }

  const SEView* classRoot = namedItem(&sh, view, 2, snapkey::kClassRoot);
  const SEView* methodRoot =
      classRoot != nullptr ? namedItem(&sh, view, 3, snapkey::kMethodRoot) : nullptr;
  if (methodRoot == nullptr) return false;
  if (view.count > 4) {
    sh.fail(std::to_string(view.count) + " items before the end marker, not 4");
    return false;
  }
  if (!readMethods(&sh, methodRoot, &s) || !readClasses(&sh, classRoot, &s)) return false;
  *out = std::move(s);
  return true;
}

bool decodeSnapshot(const uint8_t* data, size_t size, Snapshot* out, std::string* error) {
  std::unique_ptr<SEReader, void (*)(SEReader*)> reader(SEReaderNew(), SEReaderFree);
  if (reader == nullptr) {
    *error = "out of memory";
    return false;
  }
  SESnapshotView view;
  if (!SEReadSnapshot(reader.get(), data, size, &view)) {
    *error = SEReaderError(reader.get());
    return false;
  }
  return modelFromView(view, out, error);
}
