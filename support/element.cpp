#include "support/element.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "cci/cci.h"

namespace {

std::atomic<SEDiagnosticSink> diagnosticSink{nullptr};

SElem* newElement(int32_t kind) {
  SElem* e = static_cast<SElem*>(sMalloc(sizeof(SElem)));
  if (e == nullptr) return nullptr;
  memset(e, 0, sizeof(SElem));
  e->kind = kind;
  return e;
}

char* copyText(const char* text) {
  size_t length = strlen(text);
  char* copy = static_cast<char*>(sMalloc(length + 1));
  if (copy != nullptr) memcpy(copy, text, length + 1);
  return copy;
}

SElem* newBlock(int32_t kind, const void* data, int32_t count, size_t itemSize) {
  if (count < 0) return nullptr;
  SElem* e = newElement(kind);
  if (e == nullptr) return nullptr;
  size_t bytes = static_cast<size_t>(count) * itemSize;
  void* copy = nullptr;
  if (bytes > 0) {
    copy = sMalloc(bytes);
    if (copy == nullptr) {
      sFree(e);
      return nullptr;
    }
    memcpy(copy, data, bytes);
  }
  e->block.count = count;
  e->block.data = copy;
  e->block.owns = 1;
  return e;
}

// atoi without its undefined overflow: leading white space, an optional sign,
// digits; 0 when there are none; clamped to the 32-bit range.
int32_t textToInt32(const char* text) {
  long long value = strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

SElem* SENewInt32(int32_t value) {
  SElem* e = newElement(SE_INT32);
  if (e != nullptr) e->int32Value = value;
  return e;
}

SElem* SENewInt64(int64_t value) {
  SElem* e = newElement(SE_INT64);
  if (e != nullptr) e->int64Value = value;
  return e;
}

SElem* SENewStringN(const char* bytes, int32_t length) {
  if (length < 0 || (bytes == nullptr && length > 0)) return nullptr;
  SElem* e = newElement(SE_STRING);
  if (e == nullptr) return nullptr;
  char* data = static_cast<char*>(sMalloc(static_cast<size_t>(length) + 1));
  if (data == nullptr) {
    sFree(e);
    return nullptr;
  }
  if (length > 0) memcpy(data, bytes, static_cast<size_t>(length));
  data[length] = '\0';
  e->string.length = length;
  e->string.data = data;
  return e;
}

SElem* SENewString(const char* text) {
  if (text == nullptr) return nullptr;
  size_t length = strlen(text) + 1;
  if (length > INT32_MAX) return nullptr;
  return SENewStringN(text, static_cast<int32_t>(length));
}

SElem* SENewList(int32_t capacity) {
  SElem* e = newElement(SE_LIST);
  if (e == nullptr) return nullptr;
  e->children = QMNewVector(capacity < 0 ? 0 : capacity);
  if (e->children == nullptr) {
    sFree(e);
    return nullptr;
  }
  return e;
}

SElem* SENewNamed(int32_t capacity, const char* name) {
  SElem* e = newElement(SE_NAMED);
  if (e == nullptr) return nullptr;
  char* nameCopy = copyText(name != nullptr ? name : "NO_NAME");
  if (nameCopy == nullptr) {
    sFree(e);
    return nullptr;
  }
  e->members = QMHashNew(capacity, QMStringHashWord, QMStringEqualWord, nameCopy, 0);
  if (e->members == nullptr || e->members->buckets == nullptr) {
    QMHashFree(e->members);
    sFree(nameCopy);
    sFree(e);
    return nullptr;
  }
  return e;
}

SElem* SENewBytes(const void* bytes, int32_t length) {
  return newBlock(SE_BYTES, bytes, length, 1);
}

SElem* SENewInt32Array(const int32_t* values, int32_t count) {
  return newBlock(SE_INT32_ARRAY, values, count, sizeof(int32_t));
}

SElem* SENewInt64Array(const int64_t* values, int32_t count) {
  return newBlock(SE_INT64_ARRAY, values, count, sizeof(int64_t));
}

bool SEListAdd(SElem* list, SElem* child) {
  if (list == nullptr || list->kind != SE_LIST || child == nullptr) return false;
  return QMAddElement(list->children, child) != 0;
}

bool SENamedPut(SElem* named, const char* key, SElem* child) {
  if (named == nullptr || named->kind != SE_NAMED || key == nullptr || child == nullptr) {
    return false;
  }
  char* keyCopy = copyText(key);
  if (keyCopy == nullptr) return false;
  if (QMHashPut(named->members, reinterpret_cast<QMHashWord>(keyCopy),
                reinterpret_cast<QMHashWord>(child)) == 0) {
    sFree(keyCopy);
    return false;
  }
  return true;
}

int32_t SEGetInt32(const SElem* e) {
  if (e == nullptr) {
    SEDiagnostic("SEGetInt32: null element");
    return -1;
  }
  switch (e->kind) {
    case SE_INT32:
      return e->int32Value;
    case SE_STRING:
      return textToInt32(e->string.data);
    default:
      SEDiagnostic("Type mismatch");
      return -1;
  }
}

int64_t SEGetInt64(const SElem* e) {
  if (e == nullptr) {
    SEDiagnostic("SEGetInt64: null element");
    return -1;
  }
  switch (e->kind) {
    case SE_INT32:
      return e->int32Value;
    case SE_INT64:
      return e->int64Value;
    default:
      SEDiagnostic("Type mismatch");
      return -1;
  }
}

const char* SENamedName(const SElem* e) {
  if (e == nullptr || e->kind != SE_NAMED) return nullptr;
  return e->members->name;
}

SElem* SENamedGet(SElem* named, const char* key) {
  if (named == nullptr || named->kind != SE_NAMED || key == nullptr) return nullptr;
  return reinterpret_cast<SElem*>(QMHashGet(named->members, reinterpret_cast<QMHashWord>(key)));
}

void SEFree(SElem* e) {
  if (e == nullptr) return;
  switch (e->kind) {
    case SE_STRING:
      sFree(e->string.data);
      break;
    case SE_LIST:
      for (int32_t i = 0; i < e->children->count; i++) {
        SEFree(static_cast<SElem*>(e->children->items[i]));
      }
      QMFreeVector(e->children);
      break;
    case SE_NAMED: {
      // Walks the chains directly rather than through an iterator, so that
      // releasing never needs memory.
      QMHashTable* t = e->members;
      for (int32_t b = 0; b < t->bucketCount; b++) {
        for (QMHashEntry* entry = t->buckets[b]; entry != nullptr; entry = entry->next) {
          sFree(reinterpret_cast<void*>(entry->key));
          SEFree(reinterpret_cast<SElem*>(entry->value));
        }
      }
      sFree(const_cast<char*>(t->name));
      QMHashFree(e->members);
      break;
    }
    case SE_BYTES:
    case SE_INT32_ARRAY:
    case SE_INT64_ARRAY:
      if (e->block.owns != 0 && e->block.data != nullptr) sFree(e->block.data);
      break;
    default:
      break;
  }
  sFree(e);
}

void SEDiagnostic(const char* message) {
  SEDiagnosticSink sink = diagnosticSink.load(std::memory_order_acquire);
  if (sink != nullptr) sink(message);
}

void SESetDiagnosticSink(SEDiagnosticSink sink) {
  diagnosticSink.store(sink, std::memory_order_release);
}
