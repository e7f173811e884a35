// QMHashTable: a chained hash table keyed by one word (an integer, or a string
// pointer with QMStringHashWord / QMStringEqualWord), with an iterator.
//
// cci's object table is one of these, so the record, entry and block layouts,
// the bucket index and the chain order are shared with cci: on 32-bit targets
// every field is one 32-bit word. On 64-bit targets pointers, keys, values and
// extras are pointer-sized. Named snapshot elements are string-keyed tables, so
// the hash, the growth and the chain order also decide the bytes of a snapshot.
//
// The table owns its blocks and bucket array, never its name, keys or values.
// Thread-safety: none. A lookup may move an entry to the head of its chain, so
// lookups count as writes.
#ifndef CCOVER_SUPPORT_HASH_TABLE_H_
#define CCOVER_SUPPORT_HASH_TABLE_H_

#include <stddef.h>
#include <stdint.h>

typedef uintptr_t QMHashWord;
typedef int32_t (*QMHashFn)(QMHashWord key);
typedef int32_t (*QMEqualFn)(QMHashWord stored, QMHashWord probe);

struct QMHashEntry {
  QMHashEntry* next;  // next entry of the same chain
  QMHashWord key;
  QMHashWord value;
  QMHashWord extra[];  // extraWords of them (0, 1 or 2)
};

enum { kQMHashBlockSlots = 128 };

struct QMHashBlock {
  QMHashBlock* next;  // older block
  int32_t used;       // slots handed out, 1 .. 128
  QMHashWord* slots;  // 128 entries of 3 + extraWords words
};

enum {
  kQMHashMoveToFront = 1,  // a successful lookup moves the entry to its chain's head
  kQMHashFixedSize = 2,    // never grow on insert
};

struct QMHashTable {
  const char* name;  // "noname" when created without one; not owned
  int32_t count;
  int32_t shift;        // 32 - log2(bucketCount)
  int32_t bucketCount;  // a power of two, at least 8
  int32_t extraWords;   // 0, 1 or 2
  QMHashFn hashFn;      // null: the key word is the hash
  QMEqualFn equalFn;    // null: key words are compared
  QMHashEntry* freeList;
  QMHashBlock* blocks;    // newest first
  QMHashEntry** buckets;  // bucketCount chain heads
  int32_t flags;
};

struct QMHashIterator {
  QMHashTable* table;
  int32_t bucket;        // -1 before the first step
  QMHashEntry* current;  // null before the first step
  QMHashWord key;
  QMHashWord value;
  QMHashWord extra1;
  QMHashWord extra2;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(QMHashTable) == 11 * 4, "QMHashTable is eleven words");
static_assert(sizeof(QMHashEntry) == 3 * 4, "QMHashEntry is three words plus extras");
static_assert(sizeof(QMHashBlock) == 3 * 4, "QMHashBlock is three words");
static_assert(sizeof(QMHashIterator) == 7 * 4, "QMHashIterator is seven words");
#endif

// Null when the record can't be allocated.
QMHashTable* QMHashNew(int32_t sizeHint, QMHashFn hashFn, QMEqualFn equalFn, const char* name,
                       int32_t extraWords);
// Both return the new count, or 0 when nothing was inserted. Equal keys are not
// merged: the newer entry comes first in its chain.
int32_t QMHashPut(QMHashTable* t, QMHashWord key, QMHashWord value);
int32_t QMHashPutExtra(QMHashTable* t, QMHashWord key, QMHashWord value, QMHashWord extra1,
                       QMHashWord extra2);
// The value, or 0 when the key is absent.
QMHashWord QMHashGet(QMHashTable* t, QMHashWord key);
// Any out may be null; ask only for extras the table has.
void QMHashLookup(QMHashTable* t, QMHashWord key, QMHashWord* value, QMHashWord* extra1,
                  QMHashWord* extra2);
int32_t QMHashCount(const QMHashTable* t);
void QMHashFree(QMHashTable* t);

// Iteration: it = QMHashIterate(t); while ((it = QMHashNext(it)) != nullptr) use
// it->key, it->value. QMHashNext frees the iterator when it returns null; a loop
// that stops early frees it with sFree. The table must not change meanwhile.
QMHashIterator* QMHashIterate(QMHashTable* t);
QMHashIterator* QMHashNext(QMHashIterator* it);

int32_t QMStringHash(const char* text);
int32_t QMStringEqual(const char* a, const char* b);
// The same two, in the form a table stores.
int32_t QMStringHashWord(QMHashWord key);
int32_t QMStringEqualWord(QMHashWord stored, QMHashWord probe);

// The bucket a key falls in, for tests and for readers that rebuild an order.
int32_t QMHashBucketIndex(const QMHashTable* t, QMHashWord key);
// log2 of the bucket count that QMHashNew gives a table of sizeHint; QMHashPut
// adds one when the count reaches twice the bucket count, up to 30
// (support/hash_walk_order.h follows the same growth).
int32_t QMHashInitialBits(int32_t sizeHint);
enum { kQMHashMaxBits = 30 };

#endif  // CCOVER_SUPPORT_HASH_TABLE_H_
