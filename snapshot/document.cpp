#include "snapshot/document.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "cci/cci.h"
#include "platform/platform.h"
#include "snapshot/format.h"

namespace {

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

  // The element when every member went in; otherwise frees it and gives null.
  SElem* finish() {
    if (whole) return element;
    SEFree(element);
    return nullptr;
  }
};

// A list of count integers, value(i) each. A null source array gives zeros: a
// method with line slots but without the array still lists every slot.
template <typename T>
SElem* makeIntList(int32_t count, const T* values, bool relaxed) {
  SElem* list = SENewList(count);
  if (list == nullptr) return nullptr;
  for (int32_t i = 0; i < count; i++) {
    int32_t value = 0;
    if (values != nullptr) {
      value = static_cast<int32_t>(relaxed ? loadRelaxed(values[i]) : values[i]);
    }
    SElem* item = SENewInt32(value);
    if (!SEListAdd(list, item)) {
      SEFree(item);
      SEFree(list);
      return nullptr;
    }
  }
  return list;
}

// The id of each of count method records; none when the array is missing.
SElem* makeMethodIdList(int32_t count, const CMethod* methods) {
  if (methods == nullptr) count = 0;
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

const char* sourceNameOf(const char* sourceName) {
  return sourceName != nullptr ? sourceName : "0";
}

SElem* makeClassElement(const CClass* c) {
  Builder b(SENewNamed(10, snapkey::kObjectElement));
  b.putInt(snapkey::kType, 'c');
  b.putInt(snapkey::kId, static_cast<int32_t>(c->id));
  b.putText(snapkey::kName, c->name);
  if (c->loaded == 0) {
    b.putInt(snapkey::kLoaded, 0);
    return b.finish();
  }
  b.putText(snapkey::kSourceName, sourceNameOf(c->sourceName));
  b.putInt(snapkey::kAccessFlags, c->accessFlags);
  b.put(snapkey::kMethodIds, makeMethodIdList(c->methodCount, c->methods));
  b.putInt(snapkey::kCoverage, loadRelaxed(c->coverage));
  b.putInt(snapkey::kCoverageAtMark, loadRelaxed(c->coverageAtMark));
  b.putInt(snapkey::kCoverageSinceMark, loadRelaxed(c->coverageSinceMark));
  if (c->hasLines != 0) {
    b.putInt(snapkey::kLineCount, c->lineCount);
    b.putInt(snapkey::kMissedLines, loadRelaxed(c->missedLines));
    b.putInt(snapkey::kMissedLinesSinceMark, loadRelaxed(c->missedLinesSinceMark));
  }
  return b.finish();
}

SElem* makeInterfaceElement(const CInterface* i) {
  Builder b(SENewNamed(10, snapkey::kObjectElement));
  b.putInt(snapkey::kType, 'i');
  b.putInt(snapkey::kId, static_cast<int32_t>(i->id));
  b.putText(snapkey::kName, i->name);
  b.putText(snapkey::kSourceName, sourceNameOf(i->sourceName));
  b.putInt(snapkey::kAccessFlags, i->accessFlags);
  b.put(snapkey::kMethodIds, makeMethodIdList(i->methodCount, i->methods));
  return b.finish();
}

SElem* makeMethodElement(const CMethod* m) {
  Builder b(SENewNamed(10, snapkey::kObjectElement));
  b.putInt(snapkey::kType, 'm');
  b.putInt(snapkey::kId, static_cast<int32_t>(m->id));
  b.putInt(snapkey::kClassId, static_cast<int32_t>(m->classId));
  b.putText(snapkey::kName, m->name);
  b.putText(snapkey::kSignatureText, m->signature);
  b.putInt(snapkey::kAccessFlags, m->accessFlags);
  b.putInt(snapkey::kInvocations, static_cast<int32_t>(loadRelaxed(m->invocations)));
  b.putInt(snapkey::kMarkedInvocations, static_cast<int32_t>(loadRelaxed(m->markedInvocations)));
  if (m->lineCount != 0) {
    b.put(snapkey::kLineNumbers, makeIntList(m->lineCount, m->lineNumbers, false));
    b.put(snapkey::kHits, makeIntList(m->lineCount, m->hits, true));
    b.put(snapkey::kMarkedHits, makeIntList(m->lineCount, m->markedHits, true));
  }
  return b.finish();
}

bool isClassRootType(uint32_t type) { return type == kCObjectClass || type == kCObjectInterface; }
bool isMethodRootType(uint32_t type) { return type == kCObjectMethod; }

// Objects of other types, and entries without a record, are in neither root.
bool belongsTo(const CObject* object, bool (*wanted)(uint32_t)) {
  return object != nullptr && object->record != nullptr && wanted(object->type);
}

void formatKey(QMHashWord id, char (&key)[16]) {
  snprintf(key, sizeof key, "%d", static_cast<int>(static_cast<int32_t>(id)));
}

SElem* makeRoot(QMHashTable* idToCObjects, const char* name, bool (*wanted)(uint32_t)) {
  Builder b(SENewNamed(200, name));
  if (!b.whole || idToCObjects == nullptr) return b.finish();
  QMHashIterator* it = QMHashIterate(idToCObjects);
  if (it == nullptr) {
    b.whole = false;
    return b.finish();
  }
  while ((it = QMHashNext(it)) != nullptr) {
    const CObject* object = reinterpret_cast<const CObject*>(it->value);
    if (!belongsTo(object, wanted)) continue;
    char key[16];
    formatKey(it->key, key);
    b.put(key, makeObjectElement(object));
    if (!b.whole) {
      sFree(it);  // the walk stops early
      break;
    }
  }
  return b.finish();
}

void freeKeyTable(QMHashTable* keys) {
  for (int32_t b = 0; b < keys->bucketCount; b++) {
    for (QMHashEntry* entry = keys->buckets[b]; entry != nullptr; entry = entry->next) {
      sFree(reinterpret_cast<void*>(entry->key));
    }
  }
  QMHashFree(keys);
}

// The members of a root as (key copy, CObject) pairs, in a table made exactly
// as the root's own member table is (capacity 200, the same keys put in the
// same order), so that both iterate in the same order. Null when memory ran out.
QMHashTable* collectRootKeys(QMHashTable* idToCObjects, bool (*wanted)(uint32_t)) {
  QMHashTable* keys = QMHashNew(200, QMStringHashWord, QMStringEqualWord, nullptr, 0);
  if (keys == nullptr || keys->buckets == nullptr) {
    QMHashFree(keys);
    return nullptr;
  }
  if (idToCObjects == nullptr) return keys;
  QMHashIterator* it = QMHashIterate(idToCObjects);
  if (it == nullptr) {
    freeKeyTable(keys);
    return nullptr;
  }
  while ((it = QMHashNext(it)) != nullptr) {
    const CObject* object = reinterpret_cast<const CObject*>(it->value);
    if (!belongsTo(object, wanted)) continue;
    char key[16];
    formatKey(it->key, key);
    size_t length = strlen(key) + 1;
    char* copy = static_cast<char*>(sMalloc(length));
    if (copy != nullptr) memcpy(copy, key, length);
    if (copy == nullptr || QMHashPut(keys, reinterpret_cast<QMHashWord>(copy),
                                     reinterpret_cast<QMHashWord>(object)) == 0) {
      if (copy != nullptr) sFree(copy);
      sFree(it);  // the walk stops early
      freeKeyTable(keys);
      return nullptr;
    }
  }
  return keys;
}

// Writes a root with the bytes of SEWrite(makeRoot(...)), but builds one
// object's element at a time and frees it once written: the whole tree would
// hold some thirty times the file's size in memory, and freeing it costs more
// than writing it. Only the keys are collected first, since the member count
// and the order come before any member.
bool writeRoot(SEStream* stream, QMHashTable* idToCObjects, bool (*wanted)(uint32_t)) {
  QMHashTable* keys = collectRootKeys(idToCObjects, wanted);
  if (keys == nullptr) return false;
  bool whole = true;
  SEWriteNamedHeader(stream, keys->count);
  for (int32_t b = 0; b < keys->bucketCount && whole; b++) {
    for (QMHashEntry* entry = keys->buckets[b]; entry != nullptr; entry = entry->next) {
      SElem* element = makeObjectElement(reinterpret_cast<const CObject*>(entry->value));
      if (element == nullptr) {  // memory ran out: the file can't be whole
        whole = false;
        break;
      }
      SEWriteKey(stream, reinterpret_cast<const char*>(entry->key));
      SEWrite(stream, element);
      SEFree(element);
    }
  }
  freeKeyTable(keys);
  return whole;
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
  switch (object->type) {
    case kCObjectClass:
      return makeClassElement(static_cast<const CClass*>(object->record));
    case kCObjectInterface:
      return makeInterfaceElement(static_cast<const CInterface*>(object->record));
    case kCObjectMethod:
      return makeMethodElement(static_cast<const CMethod*>(object->record));
    default:
      return nullptr;
  }
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
