#include "support/hash_table.h"

#include <string.h>

#include "cci/cci.h"

namespace {

constexpr uint32_t kGoldenRatio = 0x9E3779B9u;

size_t entryWords(const QMHashTable* t) { return 3 + static_cast<size_t>(t->extraWords); }

uint32_t hashOf(const QMHashTable* t, QMHashWord key) {
  return t->hashFn != nullptr ? static_cast<uint32_t>(t->hashFn(key)) : static_cast<uint32_t>(key);
}

bool keysEqual(const QMHashTable* t, QMHashWord stored, QMHashWord probe) {
  return t->equalFn != nullptr ? t->equalFn(stored, probe) != 0 : stored == probe;
}

// Replaces the bucket array by one of 2^bits heads. On allocation failure the
// table keeps its old size and stays usable.
void resize(QMHashTable* t, int32_t bits) {
  int32_t newCount = int32_t{1} << bits;
  // An array of pointers, sized by its element.
  // NOLINTNEXTLINE(bugprone-sizeof-expression)
  const size_t headsSize = sizeof(t->buckets[0]) * static_cast<size_t>(newCount);
  QMHashEntry** heads = static_cast<QMHashEntry**>(sMalloc(headsSize));
  if (heads == nullptr) return;
  memset(heads, 0, headsSize);
  QMHashEntry** old = t->buckets;
  int32_t oldCount = t->bucketCount;
  t->shift = 32 - bits;
  t->bucketCount = newCount;
  t->buckets = heads;
  if (old == nullptr) return;
  for (int32_t b = 0; b < oldCount; b++) {
    QMHashEntry* e = old[b];
    while (e != nullptr) {
      QMHashEntry* next = e->next;
      int32_t index = QMHashBucketIndex(t, e->key);
      e->next = heads[index];
      heads[index] = e;
      e = next;
    }
  }
  sFree(old);
}

QMHashEntry* takeEntry(QMHashTable* t) {
  if (t->freeList != nullptr) {
    QMHashEntry* e = t->freeList;
    t->freeList = e->next;
    return e;
  }
  QMHashBlock* block = t->blocks;
  if (block != nullptr && block->used < kQMHashBlockSlots) {
    return reinterpret_cast<QMHashEntry*>(block->slots +
                                          entryWords(t) * static_cast<size_t>(block->used++));
  }
  block = static_cast<QMHashBlock*>(sMalloc(sizeof(QMHashBlock)));
  if (block == nullptr) return nullptr;
  block->slots =
      static_cast<QMHashWord*>(sMalloc(sizeof(QMHashWord) * entryWords(t) * kQMHashBlockSlots));
  if (block->slots == nullptr) {
    sFree(block);
    return nullptr;
  }
  block->next = t->blocks;
  block->used = 1;
  t->blocks = block;
  return reinterpret_cast<QMHashEntry*>(block->slots);
}

}  // namespace

int32_t QMHashInitialBits(int32_t sizeHint) {
  int32_t bits = 3;
  while (bits < kQMHashMaxBits && (int64_t{1} << bits) < sizeHint) bits++;
  return bits;
}

int32_t QMHashBucketIndex(const QMHashTable* t, QMHashWord key) {
  uint32_t product = hashOf(t, key) * kGoldenRatio;
  return static_cast<int32_t>(product >> t->shift);
}

QMHashTable* QMHashNew(int32_t sizeHint, QMHashFn hashFn, QMEqualFn equalFn, const char* name,
                       int32_t extraWords) {
  QMHashTable* t = static_cast<QMHashTable*>(sMalloc(sizeof(QMHashTable)));
  if (t == nullptr) return nullptr;
  memset(t, 0, sizeof(QMHashTable));
  t->extraWords = extraWords < 0 ? 0 : (extraWords > 2 ? 2 : extraWords);
  t->hashFn = hashFn;
  t->equalFn = equalFn;
  t->name = name != nullptr ? name : "noname";
  resize(t, QMHashInitialBits(sizeHint));
  t->flags = kQMHashMoveToFront;
  return t;
}

int32_t QMHashPut(QMHashTable* t, QMHashWord key, QMHashWord value) {
  return QMHashPutExtra(t, key, value, 0, 0);
}

int32_t QMHashPutExtra(QMHashTable* t, QMHashWord key, QMHashWord value, QMHashWord extra1,
                       QMHashWord extra2) {
  if (t->count >= 2 * t->bucketCount && (t->flags & kQMHashFixedSize) == 0 &&
      t->buckets != nullptr && t->shift > 32 - kQMHashMaxBits) {
    resize(t, 32 - t->shift + 1);
  }
  if (t->buckets == nullptr) return 0;
  int32_t index = QMHashBucketIndex(t, key);
  QMHashEntry* e = takeEntry(t);
  if (e == nullptr) return 0;
  e->next = nullptr;
  e->key = key;
  e->value = value;
  if (t->extraWords >= 1) e->extra[0] = extra1;
  if (t->extraWords == 2) e->extra[1] = extra2;
  e->next = t->buckets[index];
  t->buckets[index] = e;
  return ++t->count;
}

void QMHashLookup(QMHashTable* t, QMHashWord key, QMHashWord* value, QMHashWord* extra1,
                  QMHashWord* extra2) {
  QMHashEntry* found = nullptr;
  QMHashEntry* previous = nullptr;
  int32_t index = 0;
  if (t->buckets != nullptr) {
    index = QMHashBucketIndex(t, key);
    for (QMHashEntry* e = t->buckets[index]; e != nullptr; previous = e, e = e->next) {
      if (keysEqual(t, e->key, key)) {
        found = e;
        break;
      }
    }
  }
  if (found == nullptr) {
    if (value != nullptr) *value = 0;
    if (extra1 != nullptr) {
      *extra1 = 0;
      if (extra2 != nullptr) *extra2 = 0;
    }
    return;
  }
  if (value != nullptr) *value = found->value;
  if (extra1 != nullptr && t->extraWords >= 1) *extra1 = found->extra[0];
  if (extra2 != nullptr && t->extraWords == 2) *extra2 = found->extra[1];
  if ((t->flags & kQMHashMoveToFront) != 0 && previous != nullptr) {
    previous->next = found->next;
    found->next = t->buckets[index];
    t->buckets[index] = found;
  }
}

QMHashWord QMHashGet(QMHashTable* t, QMHashWord key) {
  QMHashWord value = 0;
  QMHashLookup(t, key, &value, nullptr, nullptr);
  return value;
}

int32_t QMHashCount(const QMHashTable* t) { return t->count; }

void QMHashFree(QMHashTable* t) {
  if (t == nullptr) return;
  QMHashBlock* block = t->blocks;
  while (block != nullptr) {
    QMHashBlock* next = block->next;
    sFree(block->slots);
    sFree(block);
    block = next;
  }
  if (t->buckets != nullptr) sFree(t->buckets);
  sFree(t);
}

QMHashIterator* QMHashIterate(QMHashTable* t) {
  if (t == nullptr) return nullptr;
  QMHashIterator* it = static_cast<QMHashIterator*>(sMalloc(sizeof(QMHashIterator)));
  if (it == nullptr) return nullptr;
  memset(it, 0, sizeof(QMHashIterator));
  it->table = t;
  it->bucket = -1;
  return it;
}

QMHashIterator* QMHashNext(QMHashIterator* it) {
  if (it == nullptr) return nullptr;
  QMHashTable* t = it->table;
  if (t->count == 0 || t->buckets == nullptr) {
    sFree(it);
    return nullptr;
  }
  if (it->current != nullptr && it->current->next != nullptr) {
    it->current = it->current->next;
  } else {
    do {
      it->bucket++;
      if (it->bucket >= t->bucketCount) {
        sFree(it);
        return nullptr;
      }
    } while (t->buckets[it->bucket] == nullptr);
    it->current = t->buckets[it->bucket];
  }
  it->key = it->current->key;
  it->value = it->current->value;
  if (t->extraWords >= 1) it->extra1 = it->current->extra[0];
  if (t->extraWords == 2) it->extra2 = it->current->extra[1];
  return it;
}

int32_t QMStringHash(const char* text) {
  if (text == nullptr) return 0;
  uint32_t h = 0;
  for (uint32_t i = 0; text[i] != '\0'; i++) {
    uint32_t widened =
        static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(text[i])));
    h ^= widened << (i % 4);
  }
  return static_cast<int32_t>(h);
}

int32_t QMStringEqual(const char* a, const char* b) {
  if (a == b) return 1;
  if (a == nullptr || b == nullptr) return 0;
  return strcmp(a, b) == 0 ? 1 : 0;
}

int32_t QMStringHashWord(QMHashWord key) {
  return QMStringHash(reinterpret_cast<const char*>(key));
}

int32_t QMStringEqualWord(QMHashWord stored, QMHashWord probe) {
  return QMStringEqual(reinterpret_cast<const char*>(stored), reinterpret_cast<const char*>(probe));
}
