#include "snapshot/document.h"

#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "cci/cci.h"
#include "platform/platform.h"
#include "snapshot/format.h"
#include "support/hash_walk_order.h"

namespace {

// The members of each object element are described once, by the templates
// below, to one of two sinks: Builder makes the SElem tree, MemberList keeps
// the values to be streamed in the tree's order (writeRoot). So the keys and
// their order of puts, which decide the file's bytes, have one home.

// Adds members to a named element and remembers whether every one went in; a
// child that could not be made or added is freed, and the tree counts as
// incomplete.
struct Builder {
  SElem* element;
  bool whole;

  explicit Builder(SElem* e) : element(e), whole(e != nullptr) {}

  void put(const char* key, SElem* child) {
    if (!whole || !SENamedPut(element, key, child)) {
      SEFree(child);
      whole = false;
    }
  }
  void putInt(const char* key, int32_t value) { put(key, SENewInt32(value)); }
  void putText(const char* key, const char* text) {
    put(key, text != nullptr ? SENewString(text) : nullptr);
  }
  // Text in the system's narrow encoding, stored as modified UTF-8.
  void putConverted(const char* key, const char* text) {
    char* converted = platform::toModifiedUtf8(text);
    putText(key, converted);
    if (converted != nullptr) sFree(converted);
  }
  template <typename T>
  void putIntList(const char* key, int32_t count, const T* values, bool relaxed);
  void putMethodIds(const char* key, int32_t count, const CMethod* methods);

  // The element when every member went in; otherwise frees it and gives null.
  SElem* finish() {
    if (whole) return element;
    SEFree(element);
    return nullptr;
  }
};

// Value i of a list of count integers. A null source array gives zeros: a
// method with line slots but without the array still lists every slot.
template <typename T>
int32_t listValue(const T* values, int32_t i, bool relaxed) {
  if (values == nullptr) return 0;
  return static_cast<int32_t>(relaxed ? loadRelaxed(values[i]) : values[i]);
}

// The ids of count method records; none when the array is missing.
int32_t methodIdCount(int32_t count, const CMethod* methods) {
  return methods == nullptr ? 0 : count;
}

template <typename T>
SElem* makeIntList(int32_t count, const T* values, bool relaxed) {
  SElem* list = SENewList(count);
  if (list == nullptr) return nullptr;
  for (int32_t i = 0; i < count; i++) {
    SElem* item = SENewInt32(listValue(values, i, relaxed));
    if (!SEListAdd(list, item)) {
      SEFree(item);
      SEFree(list);
      return nullptr;
    }
  }
  return list;
}

SElem* makeMethodIdList(int32_t count, const CMethod* methods) {
  count = methodIdCount(count, methods);
  SElem* list = SENewList(count);
  if (list == nullptr) return nullptr;
  for (int32_t i = 0; i < count; i++) {
    SElem* item = SENewInt32(static_cast<int32_t>(methods[i].id));
    if (!SEListAdd(list, item)) {
      SEFree(item);
      SEFree(list);
      return nullptr;
    }
  }
  return list;
}

template <typename T>
void Builder::putIntList(const char* key, int32_t count, const T* values, bool relaxed) {
  put(key, makeIntList(count, values, relaxed));
}

void Builder::putMethodIds(const char* key, int32_t count, const CMethod* methods) {
  put(key, makeMethodIdList(count, methods));
}

const char* sourceNameOf(const char* sourceName) {
  return sourceName != nullptr ? sourceName : "0";
}

// Every named element of an object is made with this capacity.
constexpr int32_t kObjectCapacity = 10;

template <typename Sink>
void describeClass(const CClass* c, Sink& s) {
  s.putInt(snapkey::kType, 'c');
  s.putInt(snapkey::kId, static_cast<int32_t>(c->id));
  s.putText(snapkey::kName, c->name);
  if (c->loaded == 0) {
    s.putInt(snapkey::kLoaded, 0);
    return;
  }
  s.putText(snapkey::kSourceName, sourceNameOf(c->sourceName));
  s.putInt(snapkey::kAccessFlags, c->accessFlags);
  s.putMethodIds(snapkey::kMethodIds, c->methodCount, c->methods);
  s.putInt(snapkey::kCoverage, loadRelaxed(c->coverage));
  s.putInt(snapkey::kCoverageAtMark, loadRelaxed(c->coverageAtMark));
  s.putInt(snapkey::kCoverageSinceMark, loadRelaxed(c->coverageSinceMark));
  if (c->hasLines != 0) {
    s.putInt(snapkey::kLineCount, c->lineCount);
    s.putInt(snapkey::kMissedLines, loadRelaxed(c->missedLines));
    s.putInt(snapkey::kMissedLinesSinceMark, loadRelaxed(c->missedLinesSinceMark));
  }
}

template <typename Sink>
void describeInterface(const CInterface* i, Sink& s) {
  s.putInt(snapkey::kType, 'i');
  s.putInt(snapkey::kId, static_cast<int32_t>(i->id));
  s.putText(snapkey::kName, i->name);
  s.putText(snapkey::kSourceName, sourceNameOf(i->sourceName));
  s.putInt(snapkey::kAccessFlags, i->accessFlags);
  s.putMethodIds(snapkey::kMethodIds, i->methodCount, i->methods);
}

template <typename Sink>
void describeMethod(const CMethod* m, Sink& s) {
  s.putInt(snapkey::kType, 'm');
  s.putInt(snapkey::kId, static_cast<int32_t>(m->id));
  s.putInt(snapkey::kClassId, static_cast<int32_t>(m->classId));
  s.putText(snapkey::kName, m->name);
  s.putText(snapkey::kSignatureText, m->signature);
  s.putInt(snapkey::kAccessFlags, m->accessFlags);
  s.putInt(snapkey::kInvocations, static_cast<int32_t>(loadRelaxed(m->invocations)));
  s.putInt(snapkey::kMarkedInvocations, static_cast<int32_t>(loadRelaxed(m->markedInvocations)));
  if (m->lineCount != 0) {
    s.putIntList(snapkey::kLineNumbers, m->lineCount, m->lineNumbers, false);
    s.putIntList(snapkey::kHits, m->lineCount, m->hits, true);
    s.putIntList(snapkey::kMarkedHits, m->lineCount, m->markedHits, true);
  }
}

// False for a type that has no element.
template <typename Sink>
bool describeObject(const CObject* object, Sink& s) {
  switch (object->type) {
    case kCObjectClass:
      describeClass(static_cast<const CClass*>(object->record), s);
      return true;
    case kCObjectInterface:
      describeInterface(static_cast<const CInterface*>(object->record), s);
      return true;
    case kCObjectMethod:
      describeMethod(static_cast<const CMethod*>(object->record), s);
      return true;
    default:
      return false;
  }
}

// The members of one object element in the order of their puts, kept for
// writing without a tree. Texts, records and counters are only pointed at.
// Keys come from snapshot/format.h, so their lengths are known at compile
// time.
struct MemberList {
  enum Kind : uint8_t { kInt, kText, kLines, kCounters, kMethodIds };
  struct Member {
    const char* key;
    int32_t keyLength;
    Kind kind;
    bool relaxed;
    int32_t value;  // kInt; the count of the lists
    const void* data;
  };
  static constexpr int kMaxMembers = 16;
  Member members[kMaxMembers];
  int count = 0;
  bool whole = true;  // false: a text was missing, as Builder fails on it

  template <size_t N>
  void add(const char (&key)[N], Kind kind, int32_t value, const void* data, bool relaxed) {
    if (count == kMaxMembers) {
      whole = false;
      return;
    }
    members[count++] = Member{key, static_cast<int32_t>(N - 1), kind, relaxed, value, data};
  }
  template <size_t N>
  void putInt(const char (&key)[N], int32_t value) {
    add(key, kInt, value, nullptr, false);
  }
  template <size_t N>
  void putText(const char (&key)[N], const char* text) {
    if (text == nullptr) whole = false;
    add(key, kText, 0, text, false);
  }
  template <size_t N>
  void putIntList(const char (&key)[N], int32_t count, const uint16_t* values, bool relaxed) {
    add(key, kLines, count, values, relaxed);
  }
  template <size_t N>
  void putIntList(const char (&key)[N], int32_t count, const uint32_t* values, bool relaxed) {
    add(key, kCounters, count, values, relaxed);
  }
  template <size_t N>
  void putMethodIds(const char (&key)[N], int32_t count, const CMethod* methods) {
    add(key, kMethodIds, methodIdCount(count, methods), methods, false);
  }
};

template <typename T>
void writeIntList(SEStream* stream, int32_t count, const T* values, bool relaxed) {
  SEWriteListHeader(stream, count);
  for (int32_t i = 0; i < count; i++) SEWriteInt32(stream, listValue(values, i, relaxed));
}

void writeMember(SEStream* stream, const MemberList::Member& m) {
  switch (m.kind) {
    case MemberList::kInt:
      SEWriteInt32(stream, m.value);
      break;
    case MemberList::kText: {
      const char* text = static_cast<const char*>(m.data);
      size_t length = strlen(text) + 1;  // its NUL too, as SENewString keeps it
      SEWriteString(stream, text, length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(length));
      break;
    }
    case MemberList::kLines:
      writeIntList(stream, m.value, static_cast<const uint16_t*>(m.data), m.relaxed);
      break;
    case MemberList::kCounters:
      writeIntList(stream, m.value, static_cast<const uint32_t*>(m.data), m.relaxed);
      break;
    case MemberList::kMethodIds: {
      const CMethod* methods = static_cast<const CMethod*>(m.data);
      SEWriteListHeader(stream, m.value);
      for (int32_t i = 0; i < m.value; i++) {
        SEWriteInt32(stream, static_cast<int32_t>(methods[i].id));
      }
      break;
    }
  }
}

// The order in which a named element of kObjectCapacity writes members put
// with a given list of keys. The order of a hash table's walk depends on its
// keys, its capacity and the order of the puts only, never on the values; so
// one element built per list of keys (there are six: loaded class with or
// without lines, class not loaded, interface, method with or without lines)
// gives the order of every object of that shape.
class MemberOrders {
 public:
  // Indexes into list.members in writing order; null when memory ran out.
  const int8_t* orderOf(const MemberList& list) {
    for (int i = 0; i < count_; i++) {
      if (sameKeys(shapes_[i], list)) return shapes_[i].order;
    }
    if (count_ == kMaxShapes) return nullptr;
    Shape& shape = shapes_[count_];
    shape.keyCount = list.count;
    for (int i = 0; i < list.count; i++) shape.keys[i] = list.members[i].key;
    if (!learnOrder(&shape)) return nullptr;
    count_++;
    return shape.order;
  }

 private:
  static constexpr int kMaxShapes = 8;
  struct Shape {
    int keyCount;
    const char* keys[MemberList::kMaxMembers];
    int8_t order[MemberList::kMaxMembers];
  };

  static bool sameKeys(const Shape& shape, const MemberList& list) {
    if (shape.keyCount != list.count) return false;
    for (int i = 0; i < list.count; i++) {
      if (shape.keys[i] != list.members[i].key && strcmp(shape.keys[i], list.members[i].key) != 0) {
        return false;
      }
    }
    return true;
  }

  // Puts each key's index as its value and reads them back in walking order.
  static bool learnOrder(Shape* shape) {
    Builder b(SENewNamed(kObjectCapacity, nullptr));
    for (int i = 0; i < shape->keyCount; i++) b.putInt(shape->keys[i], i);
    SElem* element = b.finish();
    if (element == nullptr) return false;
    int n = 0;
    QMHashTable* members = element->members;
    for (int32_t bucket = 0; bucket < members->bucketCount; bucket++) {
      for (QMHashEntry* e = members->buckets[bucket]; e != nullptr; e = e->next) {
        if (n < shape->keyCount) {
          shape->order[n] =
              static_cast<int8_t>(reinterpret_cast<const SElem*>(e->value)->int32Value);
        }
        n++;
      }
    }
    SEFree(element);
    return n == shape->keyCount;
  }

  Shape shapes_[kMaxShapes];
  int count_ = 0;
};

// Writes a root's member: its key, then the bytes of
// SEWrite(makeObjectElement(object)). False, with nothing written, where
// makeObjectElement would give null (a missing text; memory running out).
bool streamMember(SEStream* stream, const char* key, int32_t keyLength, const CObject* object,
                  MemberOrders* orders) {
  if (object == nullptr || object->record == nullptr) return false;
  MemberList list;
  if (!describeObject(object, list) || !list.whole) return false;
  const int8_t* order = orders->orderOf(list);
  if (order == nullptr) return false;
  SEWriteKeyBytes(stream, key, keyLength);
  SEWriteNamedHeader(stream, list.count);
  for (int i = 0; i < list.count; i++) {
    const MemberList::Member& m = list.members[order[i]];
    SEWriteKeyBytes(stream, m.key, m.keyLength);
    writeMember(stream, m);
  }
  return true;
}

bool isClassRootType(uint32_t type) { return type == kCObjectClass || type == kCObjectInterface; }
bool isMethodRootType(uint32_t type) { return type == kCObjectMethod; }

// Objects of other types, and entries without a record, are in neither root.
bool belongsTo(const CObject* object, bool (*wanted)(uint32_t)) {
  return object != nullptr && object->record != nullptr && wanted(object->type);
}

// Both roots are named elements made with this capacity.
constexpr int32_t kRootCapacity = 200;

// Room for the longest key, "-2147483648", and its NUL.
constexpr int32_t kMaxKeySize = 12;

// The object ID as "%d" writes it, with its NUL; gives its length without
// the NUL. A root has one key per object, and snprintf cost more than the
// rest of collecting them.
int32_t formatKey(QMHashWord id, char* key) {
  int32_t value = static_cast<int32_t>(id);
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  int32_t length = 0;
  if (value < 0) key[length++] = '-';
  while (n > 0) key[length++] = digits[--n];
  key[length] = '\0';
  return length;
}

SElem* makeRoot(QMHashTable* idToCObjects, const char* name, bool (*wanted)(uint32_t)) {
  Builder b(SENewNamed(kRootCapacity, name));
  if (!b.whole || idToCObjects == nullptr) return b.finish();
  QMHashIterator* it = QMHashIterate(idToCObjects);
  if (it == nullptr) {
    b.whole = false;
    return b.finish();
  }
  while ((it = QMHashNext(it)) != nullptr) {
    const CObject* object = reinterpret_cast<const CObject*>(it->value);
    if (!belongsTo(object, wanted)) continue;
    char key[kMaxKeySize];
    formatKey(it->key, key);
    b.put(key, makeObjectElement(object));
    if (!b.whole) {
      sFree(it);  // the walk stops early
      break;
    }
  }
  return b.finish();
}

// Asks for memory that the writer reaches a few objects later: a root visits
// the records in hash order, all over the heap, and without this it waits on
// a cache miss at nearly every record, text and counter array. A prefetch
// never faults, whatever the address.
[[gnu::always_inline]] inline void prefetch(const void* p) { __builtin_prefetch(p); }

// The first lines of an array of size bytes (a counter array runs over a few).
[[gnu::always_inline]] inline void prefetchArray(const void* data, size_t size) {
  constexpr size_t kLine = 64;
  constexpr size_t kMaxLines = 8;
  const char* p = static_cast<const char*>(data);
  if (p == nullptr) return;
  for (size_t offset = 0; offset < size && offset < kLine * kMaxLines; offset += kLine) {
    prefetch(p + offset);
  }
}

// A class's or an interface's texts and its method records (for their IDs).
template <typename T>
[[gnu::always_inline]] inline void prefetchTypeData(const T* type) {
  prefetch(type->name);
  prefetch(type->sourceName);
  prefetch(type->methods);
}

// What writing the object reads beyond its record. Always inlined: as a
// function of its own GCC finds it has no effect and drops its calls.
[[gnu::always_inline]] inline void prefetchRecordData(const CObject* object) {
  switch (object->type) {
    case kCObjectClass:
      prefetchTypeData(static_cast<const CClass*>(object->record));
      break;
    case kCObjectInterface:
      prefetchTypeData(static_cast<const CInterface*>(object->record));
      break;
    case kCObjectMethod: {
      const CMethod* m = static_cast<const CMethod*>(object->record);
      prefetch(m->name);
      prefetch(m->signature);
      if (m->lineCount != 0) {
        prefetchArray(m->lineNumbers, sizeof(uint16_t) * m->lineCount);
        prefetchArray(m->hits, sizeof(uint32_t) * m->lineCount);
        prefetchArray(m->markedHits, sizeof(uint32_t) * m->lineCount);
      }
      break;
    }
    default:
      break;
  }
}

// How far ahead of the object being written each step of fetching runs: the
// slot that holds the CObject pointer first, then the CObject, the record it
// points at, and what the record points at.
constexpr int32_t kFetchSlotAhead = 20;
constexpr int32_t kFetchObjectAhead = 12;
constexpr int32_t kFetchRecordAhead = 8;
constexpr int32_t kFetchDataAhead = 4;

// The objects of a root, and the order in which the root's own member table
// (capacity kRootCapacity, their keys put in the object table's walk order)
// would walk them.
class RootMembers {
 public:
  RootMembers() = default;
  RootMembers(const RootMembers&) = delete;
  RootMembers& operator=(const RootMembers&) = delete;
  ~RootMembers() {
    if (objects_ != nullptr) sFree(objects_);
    if (hashes_ != nullptr) sFree(hashes_);
    if (walk_ != nullptr) sFree(walk_);
  }

  // False when memory ran out.
  bool collect(const QMHashTable* idToCObjects, bool (*wanted)(uint32_t)) {
    if (idToCObjects == nullptr || idToCObjects->buckets == nullptr || idToCObjects->count <= 0) {
      return true;
    }
    const int32_t capacity = idToCObjects->count;
    if (static_cast<size_t>(capacity) > SIZE_MAX / sizeof(Member)) return false;
    objects_ = static_cast<Member*>(sMalloc(sizeof(Member) * static_cast<size_t>(capacity)));
    hashes_ = static_cast<int32_t*>(sMalloc(sizeof(int32_t) * static_cast<size_t>(capacity)));
    if (objects_ == nullptr || hashes_ == nullptr) return false;
    // The walk of QMHashNext (bucket by bucket, each chain from its head),
    // every entry first; then the root's own, with each CObject fetched a few
    // entries ahead of its test.
    int32_t entries = 0;
    for (int32_t b = 0; b < idToCObjects->bucketCount; b++) {
      for (const QMHashEntry* e = idToCObjects->buckets[b]; e != nullptr; e = e->next) {
        if (entries == capacity) return false;  // more entries than the table counts
        objects_[entries++] = Member{reinterpret_cast<const CObject*>(e->value), e->key};
      }
    }
    for (int32_t j = 0; j < entries; j++) {
      if (j + kFetchObjectAhead < entries) prefetch(objects_[j + kFetchObjectAhead].object);
      const Member m = objects_[j];
      if (!belongsTo(m.object, wanted)) continue;
      char key[kMaxKeySize];
      formatKey(m.id, key);
      hashes_[count_] = QMStringHash(key);
      objects_[count_++] = m;
    }
    if (count_ == 0) return true;
    walk_ = static_cast<int32_t*>(sMalloc(sizeof(int32_t) * static_cast<size_t>(count_)));
    return walk_ != nullptr && QMHashWalkOrder(hashes_, count_, kRootCapacity, walk_);
  }

  int32_t count() const { return count_; }
  // Where the i-th object of the root's walk is kept.
  const void* slot(int32_t i) const { return &objects_[walk_[i]]; }
  // The i-th object of the root's walk, and its ID.
  const CObject* object(int32_t i) const { return objects_[walk_[i]].object; }
  QMHashWord id(int32_t i) const { return objects_[walk_[i]].id; }

 private:
  struct Member {
    const CObject* object;
    QMHashWord id;
  };
  Member* objects_ = nullptr;  // in the object table's walk order
  int32_t* hashes_ = nullptr;  // of each one's key
  int32_t* walk_ = nullptr;    // indexes into objects_, in the root's order
  int32_t count_ = 0;
};

// Writes a root with the bytes of SEWrite(makeRoot(...)), but streams each
// object's element from its record, with no tree: the whole tree would hold
// some thirty times the file's size in memory, and building and freeing an
// element per object cost more than writing it (the exit snapshot of a program
// of 1,300 classes took some 50 ms that way). Only the objects are collected
// first, since the member count and the order come before any member; the
// order comes from the keys' hashes (support/hash_walk_order.h), not from a
// table of key copies.
bool writeRoot(SEStream* stream, QMHashTable* idToCObjects, bool (*wanted)(uint32_t)) {
  RootMembers root;
  if (!root.collect(idToCObjects, wanted)) return false;
  MemberOrders orders;
  const int32_t count = root.count();
  SEWriteNamedHeader(stream, count);
  for (int32_t i = 0; i < count; i++) {
    if (i + kFetchSlotAhead < count) prefetch(root.slot(i + kFetchSlotAhead));
    if (i + kFetchObjectAhead < count) prefetch(root.object(i + kFetchObjectAhead));
    if (i + kFetchRecordAhead < count) prefetch(root.object(i + kFetchRecordAhead)->record);
    if (i + kFetchDataAhead < count) prefetchRecordData(root.object(i + kFetchDataAhead));
    char key[kMaxKeySize];
    int32_t keyLength = formatKey(root.id(i), key);
    if (!streamMember(stream, key, keyLength, root.object(i), &orders)) {
      return false;  // the file can't be whole
    }
  }
  return true;
}

bool writeTree(SEStream* stream, SElem* tree) {
  if (tree == nullptr) return false;
  SEWrite(stream, tree);
  SEFree(tree);
  return true;
}

void reportFailure(const char* format, const char* path, int error) {
  fprintf(stderr, format, path, strerror(error != 0 ? error : EIO));
}

}  // namespace

void getHostName(char* buf) {
  if (!platform::hostName(buf, kSignatureBufferSize)) {
    snprintf(buf, kSignatureBufferSize, "%s", "localhost");
  }
}

void getUserName(char* buf) {
  if (!platform::userName(buf, kSignatureBufferSize)) buf[0] = '\0';
}

void formatTimestamp(const struct tm* time, char* buf, size_t size) {
  static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (size == 0) return;
  const char* day = time->tm_wday >= 0 && time->tm_wday < 7 ? kDays[time->tm_wday] : "???";
  const char* month = time->tm_mon >= 0 && time->tm_mon < 12 ? kMonths[time->tm_mon] : "???";
  int year = time->tm_year > INT_MAX - 1900 ? INT_MAX : time->tm_year + 1900;
  // asctime's layout, but with the day of the month zero-padded.
  snprintf(buf, size, "%s %s %02d %02d:%02d:%02d %d\n", day, month, time->tm_mday, time->tm_hour,
           time->tm_min, time->tm_sec, year);
}

void getTimestamp(char* buf, size_t size) {
  if (size == 0) return;
  struct tm now;
  if (!platform::localTime(time(nullptr), &now)) {
    buf[0] = '\0';
    return;
  }
  formatTimestamp(&now, buf, size);
}

SElem* makeObjectElement(const CObject* object) {
  if (object == nullptr || object->record == nullptr) return nullptr;
  Builder b(SENewNamed(kObjectCapacity, snapkey::kObjectElement));
  if (!describeObject(object, b)) {
    SEFree(b.element);
    return nullptr;
  }
  return b.finish();
}

SElem* makeSnapRoot() {
  Builder b(SENewNamed(8, snapkey::kSnapRoot));
  b.putText(snapkey::kVersion, "CC1-JDK12");
  b.putInt(snapkey::kSnapVersion, 1);
  return b.finish();
}

SElem* makeSignature(const char* sourcePath, const char* comment) {
  Builder b(SENewNamed(5, snapkey::kSignature));
  char buf[kSignatureBufferSize];
  getHostName(buf);
  b.putConverted(snapkey::kHostName, buf);
  getUserName(buf);
  b.putConverted(snapkey::kUserName, buf);
  getTimestamp(buf, sizeof buf);
  b.putText(snapkey::kTimestamp, buf);
  if (comment != nullptr && comment[0] != '\0') b.putText(snapkey::kComment, comment);
  if (sourcePath != nullptr) b.putText(snapkey::kSourcePath, sourcePath);
  return b.finish();
}

SElem* makeClassRoot(QMHashTable* idToCObjects) {
  return makeRoot(idToCObjects, snapkey::kClassRoot, isClassRootType);
}

SElem* makeMethodRoot(QMHashTable* idToCObjects) {
  return makeRoot(idToCObjects, snapkey::kMethodRoot, isMethodRootType);
}

bool writeSnapRoot(SEStream* stream) { return writeTree(stream, makeSnapRoot()); }

bool writeSignature(SEStream* stream, const char* sourcePath, const char* comment) {
  return writeTree(stream, makeSignature(sourcePath, comment));
}

bool writeClassRoot(SEStream* stream, QMHashTable* idToCObjects) {
  return writeRoot(stream, idToCObjects, isClassRootType);
}

bool writeMethodRoot(SEStream* stream, QMHashTable* idToCObjects) {
  return writeRoot(stream, idToCObjects, isMethodRootType);
}

namespace {

// Writes the document into an open stream, closes it, and removes the file when
// it could not be written whole and removable says it may be.
bool writeAndClose(SEStream* stream, const char* path, const char* sourcePath, const char* comment,
                   QMHashTable* idToCObjects, int32_t* byteCount) {
  if (comment != nullptr && comment[0] == '\0') comment = nullptr;
  // Every item is written even after one failed, so that a later failure of
  // the file itself is reported too; the result covers all of them.
  bool built = writeSnapRoot(stream);
  built = writeSignature(stream, sourcePath, comment) && built;
  built = writeClassRoot(stream, idToCObjects) && built;
  built = writeMethodRoot(stream, idToCObjects) && built;
  SEWriteInt32(stream, snapshotEndMarker);
  if (byteCount != nullptr) *byteCount = stream->bytesWritten;
  bool removable = stream->regularFile;
  int error = 0;
  bool written = SEClose(stream, &error);
  if (written && built) return true;
  if (!written) {
    reportFailure("S_CC_C : Cannot write file %s: %s\n", path, error);
  } else {
    fprintf(stderr, "S_CC_C : Cannot write file %s: out of memory\n", path);
  }
  // Only a regular file is removed: a device such as /dev/full, a pipe or a
  // console stays where it is.
  if (removable) platform::removeFile(path);
  return false;
}

}  // namespace

bool writeSnapshotDocument(const char* path, const char* sourcePath, const char* comment,
                           QMHashTable* idToCObjects, int32_t* byteCount) {
  SEStream* stream = SEOpenFile(path);
  if (stream == nullptr) {
    reportFailure("S_CC_C : Cannot open file %s for writing: %s\n",
                  path != nullptr ? path : "(null)", errno);
    return false;
  }
  return writeAndClose(stream, path, sourcePath, comment, idToCObjects, byteCount);
}

bool writeNewSnapshotDocument(FILE* file, const char* path, const char* sourcePath,
                              const char* comment, QMHashTable* idToCObjects, int32_t* byteCount) {
  SEStream* stream = SENewFileStream(file);
  if (stream == nullptr) {
    fclose(file);
    platform::removeFile(path);
    fprintf(stderr, "S_CC_C : Cannot write file %s: out of memory\n", path);
    return false;
  }
  // The caller created it: ours to remove again.
  stream->regularFile = true;
  return writeAndClose(stream, path, sourcePath, comment, idToCObjects, byteCount);
}
