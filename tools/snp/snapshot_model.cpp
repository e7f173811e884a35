#include "tools/snp/snapshot_model.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "snapshot/format.h"
#include "support/reader.h"

namespace {

constexpr int32_t kTypeClass = 'c';
constexpr int32_t kTypeInterface = 'i';
constexpr int32_t kTypeMethod = 'm';

// Where a member sits, for error texts: ClassRoot member "12" (offset 345).
std::string place(const char* root, const std::string& key, const SEView* v) {
  return std::string(root) + " member \"" + key + "\" (offset " + std::to_string(v->offset) + ")";
}

const char* fileKind(std::filesystem::file_type type) {
  switch (type) {
    case std::filesystem::file_type::directory:
      return "a folder";
    case std::filesystem::file_type::character:
      return "a character device";
    case std::filesystem::file_type::block:
      return "a block device";
    case std::filesystem::file_type::socket:
      return "a socket";
    default:
      return "not a regular file";
  }
}

[[noreturn]] void shape(const std::string& what) { throw SnpError("not a snapshot: " + what); }

const SEView* member(const SEView* e, const char* key, const std::string& where) {
  const SEView* v = SEViewFind(e, key);
  if (v == nullptr) shape(where + " has no \"" + key + "\"");
  return v;
}

int32_t intMember(const SEView* e, const char* key, const std::string& where) {
  const SEView* v = member(e, key, where);
  if (v->kind != SE_INT32) shape(where + ": \"" + key + "\" is not an integer");
  return static_cast<int32_t>(v->number);
}

std::string text(const SEView* v) { return SEViewText(v); }

std::string textMember(const SEView* e, const char* key, const std::string& where) {
  const SEView* v = member(e, key, where);
  if (v->kind != SE_STRING) shape(where + ": \"" + key + "\" is not a string");
  return text(v);
}

// A list of integers; count checked by the caller where it must match.
template <typename T>
std::vector<T> intList(const SEView* e, const char* key, const std::string& where) {
  const SEView* v = member(e, key, where);
  if (v->kind != SE_LIST) shape(where + ": \"" + key + "\" is not a list");
  std::vector<T> out;
  out.reserve(static_cast<size_t>(v->count));
  for (int32_t i = 0; i < v->count; i++) {
    const SEView& item = v->items[i];
    if (item.kind != SE_INT32) shape(where + ": \"" + key + "\" holds a non-integer");
    out.push_back(static_cast<T>(static_cast<int32_t>(item.number)));
  }
  return out;
}

const SEView* namedItem(const SESnapshotView& view, int32_t index, const char* name) {
  if (index >= view.count) {
    shape("no " + std::string(name) + " (only " + std::to_string(view.count) + " items)");
  }
  const SEView* v = &view.items[index];
  if (v->kind != SE_NAMED) shape(std::string(name) + " is not a named element");
  return v;
}

void readClass(const SEView* e, int32_t type, const std::string& where, SnpClass* c) {
  c->kind = type == kTypeClass ? SnpKind::kClass : SnpKind::kInterface;
  c->id = intMember(e, snapkey::kId, where);
  c->name = textMember(e, snapkey::kName, where);
  if (type == kTypeClass) {
    const SEView* lod = SEViewFind(e, snapkey::kLoaded);
    if (lod != nullptr && lod->kind == SE_INT32 && lod->number == 0) {
      c->loaded = false;
      return;
    }
  }
  std::string sn = textMember(e, snapkey::kSourceName, where);
  c->hasSourceName = sn != "0";
  if (c->hasSourceName) c->sourceName = sn;
  c->accessFlags = intMember(e, snapkey::kAccessFlags, where);
  c->methodIds = intList<int32_t>(e, snapkey::kMethodIds, where);
  if (type != kTypeClass) return;
  c->coverage = intMember(e, snapkey::kCoverage, where);
  c->coverageAtMark = intMember(e, snapkey::kCoverageAtMark, where);
  c->coverageSinceMark = intMember(e, snapkey::kCoverageSinceMark, where);
  c->hasLines = SEViewFind(e, snapkey::kLineCount) != nullptr;
  if (c->hasLines) {
    c->lineCount = intMember(e, snapkey::kLineCount, where);
    c->missedLines = intMember(e, snapkey::kMissedLines, where);
    c->missedLinesSinceMark = intMember(e, snapkey::kMissedLinesSinceMark, where);
  }
}

void readMethod(const SEView* e, const std::string& where, SnpMethod* m) {
  m->id = intMember(e, snapkey::kId, where);
  m->classId = intMember(e, snapkey::kClassId, where);
  m->name = textMember(e, snapkey::kName, where);
  m->signature = textMember(e, snapkey::kSignatureText, where);
  m->accessFlags = intMember(e, snapkey::kAccessFlags, where);
  m->invocations = static_cast<uint32_t>(intMember(e, snapkey::kInvocations, where));
  m->markedInvocations = static_cast<uint32_t>(intMember(e, snapkey::kMarkedInvocations, where));
  if (SEViewFind(e, snapkey::kLineNumbers) == nullptr) return;
  m->lines = intList<int32_t>(e, snapkey::kLineNumbers, where);
  m->hits = intList<uint32_t>(e, snapkey::kHits, where);
  m->markedHits = intList<uint32_t>(e, snapkey::kMarkedHits, where);
  if (m->hits.size() != m->lines.size() || m->markedHits.size() != m->lines.size()) {
    shape(where + ": \"ln\", \"lc\" and \"lm\" differ in length");
  }
}

int32_t typeOf(const SEView* e, const std::string& where) {
  if (e->kind != SE_NAMED) shape(where + " is not a named element");
  return intMember(e, snapkey::kType, where);
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

std::vector<uint8_t> readFileBytes(const std::string& path, size_t maxBytes) {
  namespace fs = std::filesystem;
  // What the name is, before anything is read: a device such as /dev/zero
  // never ends, and a folder is no snapshot.
  std::error_code error;
  fs::file_status status = fs::status(path, error);
  bool regular = fs::is_regular_file(status);
  if (fs::exists(status) && !regular && !fs::is_fifo(status)) {
    throw SnpError(std::string(fileKind(status.type())) +
                   ", not a snapshot file (only regular files and pipes are read)");
  }
  // A regular file is read up to the size it declares, and a larger size than
  // any snapshot is refused before any memory is taken for it.
  uintmax_t declared = regular ? fs::file_size(path, error) : 0;
  if (regular && !error && declared > maxBytes) {
    throw SnpError("larger than " + std::to_string(maxBytes) + " bytes: not a snapshot");
  }
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) throw SnpError(std::string("cannot open: ") + strerror(errno));
  std::vector<uint8_t> bytes;
  size_t limit = regular && !error ? static_cast<size_t>(declared) : maxBytes;
  if (regular) bytes.reserve(limit);
  uint8_t buffer[64 * 1024];
  size_t n;
  while (bytes.size() < limit &&
         (n = fread(buffer, 1, std::min(sizeof buffer, limit - bytes.size()), file)) > 0) {
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  bool failed = ferror(file) != 0;
  int readError = errno;
  // A pipe that goes on past the largest snapshot is not read for ever.
  bool more = !regular && !failed && bytes.size() == limit && fgetc(file) != EOF;
  fclose(file);
  if (failed) throw SnpError(std::string("cannot read: ") + strerror(readError));
  if (more) throw SnpError("larger than " + std::to_string(maxBytes) + " bytes: not a snapshot");
  return bytes;
}

Snapshot snapshotFromView(const SESnapshotView& view) {
  Snapshot s;
  const SEView* root = namedItem(view, 0, snapkey::kSnapRoot);
  s.version = textMember(root, snapkey::kVersion, snapkey::kSnapRoot);
  s.snapVersion = intMember(root, snapkey::kSnapVersion, snapkey::kSnapRoot);

  const SEView* signature = namedItem(view, 1, snapkey::kSignature);
  for (int32_t i = 0; i < signature->count; i++) {
    const SEViewMember& m = signature->members[i];
    if (m.value->kind != SE_STRING) {
      shape("Signature member \"" + std::string(m.key) + "\" is not a string");
    }
    s.signature.emplace_back(m.key,
                             std::string(m.value->bytes, static_cast<size_t>(m.value->count)));
  }

  const SEView* classRoot = namedItem(view, 2, snapkey::kClassRoot);
  const SEView* methodRoot = namedItem(view, 3, snapkey::kMethodRoot);
  if (view.count > 4) shape(std::to_string(view.count) + " items before the end marker, not 4");

  s.methods.resize(static_cast<size_t>(methodRoot->count));
  for (int32_t i = 0; i < methodRoot->count; i++) {
    const SEViewMember& m = methodRoot->members[i];
    std::string where = place("MethodRoot", m.key, m.value);
    if (typeOf(m.value, where) != kTypeMethod) shape(where + " is not a method (\"t\" is not 109)");
    SnpMethod& method = s.methods[static_cast<size_t>(i)];
    readMethod(m.value, where, &method);
    if (std::to_string(method.id) != m.key) {
      shape(where + " holds \"id\" " + std::to_string(method.id));
    }
    if (!s.methodById.emplace(method.id, static_cast<size_t>(i)).second) {
      shape("MethodRoot holds method " + std::to_string(method.id) + " twice");
    }
  }

  std::vector<bool> listed(s.methods.size(), false);
  std::unordered_map<int32_t, bool> classIds;
  s.classes.resize(static_cast<size_t>(classRoot->count));
  for (int32_t i = 0; i < classRoot->count; i++) {
    const SEViewMember& m = classRoot->members[i];
    std::string where = place("ClassRoot", m.key, m.value);
    int32_t type = typeOf(m.value, where);
    if (type != kTypeClass && type != kTypeInterface) {
      shape(where + " is neither a class nor an interface (\"t\" " + std::to_string(type) + ")");
    }
    SnpClass& c = s.classes[static_cast<size_t>(i)];
    readClass(m.value, type, where, &c);
    if (std::to_string(c.id) != m.key) shape(where + " holds \"id\" " + std::to_string(c.id));
    if (!classIds.emplace(c.id, true).second) {
      shape("ClassRoot holds class " + std::to_string(c.id) + " twice");
    }
    c.methods.reserve(c.methodIds.size());
    for (int32_t id : c.methodIds) {
      auto found = s.methodById.find(id);
      if (found == s.methodById.end()) {
        shape(where + " lists method " + std::to_string(id) + ", which MethodRoot lacks");
      }
      if (listed[found->second]) shape("method " + std::to_string(id) + " is listed twice");
      listed[found->second] = true;
      c.methods.push_back(found->second);
    }
  }
  for (size_t i = 0; i < listed.size(); i++) {
    if (!listed[i]) s.orphanMethods.push_back(i);
  }
  return s;
}

Snapshot snapshotFromBytes(const uint8_t* data, size_t size) {
  std::unique_ptr<SEReader, void (*)(SEReader*)> reader(SEReaderNew(), SEReaderFree);
  if (reader == nullptr) throw std::bad_alloc();
  SESnapshotView view;
  if (!SEReadSnapshot(reader.get(), data, size, &view)) throw SnpError(SEReaderError(reader.get()));
  return snapshotFromView(view);
}

Snapshot loadSnapshot(const std::string& path) {
  std::vector<uint8_t> bytes = readFileBytes(path);
  return snapshotFromBytes(bytes.data(), bytes.size());
}
