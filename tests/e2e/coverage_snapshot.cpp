#include "tests/e2e/coverage_snapshot.h"

#include <stdlib.h>

#include "snapshot/format.h"
#include "support/reader.h"

namespace {

int64_t numberOf(const SEView* v) { return v != nullptr ? v->number : 0; }

std::string textOf(const SEView* v) { return v != nullptr ? SEViewText(v) : std::string(); }

template <typename T>
std::vector<T> numbersOf(const SEView* list) {
  std::vector<T> values;
  if (list == nullptr) return values;
  for (int32_t i = 0; i < list->count && list->items != nullptr; i++) {
    values.push_back(static_cast<T>(list->items[i].number));
  }
  return values;
}

}  // namespace

const MethodCoverage* ClassCoverage::method(const std::string& methodName,
                                            const std::string& signature) const {
  for (const MethodCoverage& m : methods) {
    if (m.name == methodName && (signature.empty() || m.signature == signature)) return &m;
  }
  return nullptr;
}

int64_t ClassCoverage::lineHits(int32_t line) const {
  int64_t total = -1;
  for (const MethodCoverage& m : methods) {
    for (size_t slot = 0; slot < m.lines.size(); slot++) {
      if (m.lines[slot] == line) {
        total = (total < 0 ? 0 : total) + m.hits[slot];
      }
    }
  }
  return total;
}

bool CoverageSnapshot::read(const std::string& path, std::string* error) {
  classes.clear();
  SEReader* reader = SEReaderNew();
  SESnapshotView snapshot;
  if (!SEReadSnapshotFile(reader, path.c_str(), &snapshot)) {
    *error = std::string("cannot read ") + path + ": " + SEReaderError(reader);
    SEReaderFree(reader);
    return false;
  }
  // SnapRoot, Signature, ClassRoot, MethodRoot, then the end marker.
  if (snapshot.count < 4) {
    *error = "too few items in " + path;
    SEReaderFree(reader);
    return false;
  }
  const SEView& classRoot = snapshot.items[2];
  const SEView& methodRoot = snapshot.items[3];
  std::map<int32_t, std::string> classById;
  for (int32_t i = 0; i < classRoot.count; i++) {
    const SEView* e = classRoot.members[i].value;
    ClassCoverage c;
    c.id = static_cast<int32_t>(numberOf(SEViewFind(e, snapkey::kId)));
    c.name = textOf(SEViewFind(e, snapkey::kName));
    c.sourceName = textOf(SEViewFind(e, snapkey::kSourceName));
    c.isInterface = numberOf(SEViewFind(e, snapkey::kType)) == 'i';
    classById[c.id] = c.name;
    classes[c.name] = c;
  }
  for (int32_t i = 0; i < methodRoot.count; i++) {
    const SEView* e = methodRoot.members[i].value;
    MethodCoverage m;
    m.id = static_cast<int32_t>(numberOf(SEViewFind(e, snapkey::kId)));
    m.name = textOf(SEViewFind(e, snapkey::kName));
    m.signature = textOf(SEViewFind(e, snapkey::kSignatureText));
    m.accessFlags = static_cast<int32_t>(numberOf(SEViewFind(e, snapkey::kAccessFlags)));
    m.invocations = static_cast<uint32_t>(numberOf(SEViewFind(e, snapkey::kInvocations)));
    m.lines = numbersOf<int32_t>(SEViewFind(e, snapkey::kLineNumbers));
    std::vector<int64_t> hits = numbersOf<int64_t>(SEViewFind(e, snapkey::kHits));
    for (int64_t h : hits) m.hits.push_back(static_cast<uint32_t>(h));
    int32_t classId = static_cast<int32_t>(numberOf(SEViewFind(e, snapkey::kClassId)));
    auto owner = classById.find(classId);
    if (owner == classById.end() || m.hits.size() != m.lines.size()) {
      *error = "method " + m.name + " has no class or mismatched slot lists";
      SEReaderFree(reader);
      return false;
    }
    classes[owner->second].methods.push_back(m);
  }
  SEReaderFree(reader);
  return true;
}

const ClassCoverage* CoverageSnapshot::find(const std::string& className) const {
  auto it = classes.find(className);
  return it != classes.end() ? &it->second : nullptr;
}
