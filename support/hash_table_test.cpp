#include "support/hash_table.h"

#include <stdint.h>

#include <vector>

#include "gtest/gtest.h"
#include "runtime/testing/cci_testing.h"

namespace {

// Keys in iteration order (the iterator runs to its end and frees itself).
std::vector<QMHashWord> keysInOrder(QMHashTable* t) {
  std::vector<QMHashWord> keys;
  for (QMHashIterator* it = QMHashNext(QMHashIterate(t)); it != nullptr; it = QMHashNext(it)) {
    keys.push_back(it->key);
  }
  return keys;
}

std::vector<QMHashWord> chain(QMHashTable* t, int32_t bucket) {
  std::vector<QMHashWord> keys;
  for (QMHashEntry* e = t->buckets[bucket]; e != nullptr; e = e->next) keys.push_back(e->key);
  return keys;
}

QMHashWord word(const char* text) { return reinterpret_cast<QMHashWord>(text); }

using Keys = std::vector<QMHashWord>;

TEST(HashTable, SizeHintGivesBucketCount) {
  struct Case {
    int32_t hint;
    int32_t buckets;
    int32_t shift;
  } cases[] = {{0, 8, 29},   {5, 8, 29},   {8, 8, 29},    {9, 16, 28},
               {10, 16, 28}, {16, 16, 28}, {200, 256, 24}};
  for (const Case& c : cases) {
    QMHashTable* t = QMHashNew(c.hint, nullptr, nullptr, "sizes", 0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->bucketCount, c.buckets) << "hint " << c.hint;
    EXPECT_EQ(t->shift, c.shift) << "hint " << c.hint;
    EXPECT_EQ(t->flags, kQMHashMoveToFront);
    EXPECT_EQ(t->count, 0);
    QMHashFree(t);
  }
}

TEST(HashTable, CreatedWithoutNameIsNoname) {
  QMHashTable* t = QMHashNew(8, nullptr, nullptr, nullptr, 0);
  EXPECT_STREQ(t->name, "noname");
  QMHashFree(t);
}

TEST(HashTable, StringKeysWorkedExample) {
  QMHashTable* t = QMHashNew(8, QMStringHashWord, QMStringEqualWord, "strings", 0);
  EXPECT_EQ(QMHashBucketIndex(t, word("a")), 7);
  EXPECT_EQ(QMHashBucketIndex(t, word("b")), 4);
  const char* a = "a";
  const char* b = "b";
  QMHashPut(t, word(a), 1);
  QMHashPut(t, word(b), 2);
  EXPECT_EQ(keysInOrder(t), (Keys{word(b), word(a)}));
  // A different pointer to equal text finds the entry.
  char probe[] = "a";
  EXPECT_EQ(QMHashGet(t, word(probe)), 1u);
  QMHashFree(t);
}

TEST(HashTable, IntegerKeyIsItsOwnHash) {
  QMHashTable* t = QMHashNew(8, nullptr, nullptr, "ints", 0);
  EXPECT_EQ(QMHashBucketIndex(t, 1), 4);  // 0x9E3779B9 >> 29
  EXPECT_EQ(QMHashBucketIndex(t, 2), 1);  // 0x3C6EF372 >> 29
  EXPECT_EQ(QMHashBucketIndex(t, 5), 0);
  EXPECT_EQ(QMHashBucketIndex(t, 8), 7);
  QMHashFree(t);
}

TEST(HashTable, IterationRunsBucketsInOrderAndChainsNewestFirst) {
  QMHashTable* t = QMHashNew(8, nullptr, nullptr, "ints", 0);
  for (QMHashWord k = 1; k <= 16; k++) QMHashPut(t, k, k * 10);
  EXPECT_EQ(keysInOrder(t), (Keys{13, 5, 10, 2, 15, 7, 12, 4, 9, 1, 14, 6, 11, 3, 16, 8}));
  QMHashFree(t);
}

TEST(HashTable, SeventeenthInsertDoublesBuckets) {
  QMHashTable* t = QMHashNew(8, nullptr, nullptr, "ints", 0);
  for (QMHashWord k = 1; k <= 16; k++) EXPECT_EQ(QMHashPut(t, k, k * 10), static_cast<int32_t>(k));
  EXPECT_EQ(t->bucketCount, 8);
  EXPECT_EQ(QMHashPut(t, 17, 170), 17);
  EXPECT_EQ(t->bucketCount, 16);
  EXPECT_EQ(t->shift, 28);
  for (QMHashWord k = 1; k <= 17; k++) EXPECT_EQ(QMHashGet(t, k), k * 10) << k;
  QMHashFree(t);
}

TEST(HashTable, GrowthOrderFollowsRehashRule) {
  QMHashTable* t = QMHashNew(8, nullptr, nullptr, "ints", 0);
  for (QMHashWord k = 1; k <= 17; k++) QMHashPut(t, k, k);
  // Each old chain is spread over two new buckets; 17 is inserted after the
  // growth, at the head of bucket 8.
  EXPECT_EQ(keysInOrder(t), (Keys{13, 5, 10, 2, 15, 7, 12, 4, 17, 9, 1, 14, 6, 11, 3, 16, 8}));
  QMHashFree(t);
}

TEST(HashTable, RehashReversesEntriesMeetingInOneBucket) {
  QMHashTable* t = QMHashNew(8, nullptr, nullptr, "ints", 0);
  // 9 and 17 share bucket 4 of 8 and bucket 8 of 16.
  QMHashPut(t, 9, 9);
  QMHashPut(t, 17, 17);
  for (QMHashWord k : {2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15, 16}) QMHashPut(t, k, k);
  EXPECT_EQ(chain(t, 4), (Keys{17, 9}));
  QMHashPut(t, 18, 18);
  ASSERT_EQ(t->bucketCount, 16);
  EXPECT_EQ(chain(t, 8), (Keys{9, 17}));
  QMHashFree(t);
}

TEST(HashTable, FixedSizeNeverGrows) {
  QMHashTable* t = QMHashNew(8, nullptr, nullptr, "ints", 0);
  t->flags |= kQMHashFixedSize;
  for (QMHashWord k = 1; k <= 40; k++) QMHashPut(t, k, k);
  EXPECT_EQ(t->bucketCount, 8);
  EXPECT_EQ(QMHashCount(t), 40);
  for (QMHashWord k = 1; k <= 40; k++) EXPECT_EQ(QMHashGet(t, k), k);
  QMHashFree(t);
}

TEST(HashTable, EqualKeysAreNotMerged) {
  QMHashTable* t = QMHashNew(8, nullptr, nullptr, "ints", 0);
  QMHashPut(t, 3, 100);
  QMHashPut(t, 3, 200);
  EXPECT_EQ(QMHashGet(t, 3), 200u);
  EXPECT_EQ(QMHashCount(t), 2);
  std::vector<QMHashWord> values;
  for (QMHashIterator* it = QMHashNext(QMHashIterate(t)); it != nullptr; it = QMHashNext(it)) {
    values.push_back(it->value);
  }
  EXPECT_EQ(values, (Keys{200, 100}));
  QMHashFree(t);
}

TEST(HashTable, LookupMovesFoundEntryToFront) {
  QMHashTable* t = QMHashNew(8, nullptr, nullptr, "ints", 0);
  QMHashPut(t, 1, 10);
  QMHashPut(t, 9, 90);
  EXPECT_EQ(chain(t, 4), (Keys{9, 1}));
  EXPECT_EQ(QMHashGet(t, 17), 0u);  // absent, same bucket: nothing moves
  EXPECT_EQ(chain(t, 4), (Keys{9, 1}));
  EXPECT_EQ(QMHashGet(t, 1), 10u);
  EXPECT_EQ(chain(t, 4), (Keys{1, 9}));
  EXPECT_EQ(QMHashGet(t, 1), 10u);
  EXPECT_EQ(chain(t, 4), (Keys{1, 9}));
  QMHashFree(t);
}

TEST(HashTable, LookupWithoutMoveToFrontKeepsOrder) {
  QMHashTable* t = QMHashNew(8, nullptr, nullptr, "ints", 0);
  t->flags = 0;
  QMHashPut(t, 1, 10);
  QMHashPut(t, 9, 90);
  EXPECT_EQ(QMHashGet(t, 1), 10u);
  EXPECT_EQ(chain(t, 4), (Keys{9, 1}));
  QMHashFree(t);
}

TEST(HashTable, ExtrasAreStoredLookedUpAndIterated) {
  QMHashTable* t = QMHashNew(8, nullptr, nullptr, "extras", 2);
  QMHashPutExtra(t, 5, 50, 51, 52);
  QMHashWord value = 0, extra1 = 0, extra2 = 0;
  QMHashLookup(t, 5, &value, &extra1, &extra2);
  EXPECT_EQ(value, 50u);
  EXPECT_EQ(extra1, 51u);
  EXPECT_EQ(extra2, 52u);
  QMHashLookup(t, 6, &value, &extra1, &extra2);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(extra1, 0u);
  EXPECT_EQ(extra2, 0u);
  QMHashIterator* it = QMHashNext(QMHashIterate(t));
  ASSERT_NE(it, nullptr);
  EXPECT_EQ(it->extra1, 51u);
  EXPECT_EQ(it->extra2, 52u);
  EXPECT_EQ(QMHashNext(it), nullptr);
  QMHashFree(t);
}

TEST(HashTable, OneExtraWordMakesFourWordEntries) {
  QMHashTable* t = QMHashNew(8, nullptr, nullptr, "extra", 1);
  QMHashPutExtra(t, 1, 10, 11, 99);
  QMHashPutExtra(t, 2, 20, 21, 99);
  QMHashWord* slots = t->blocks->slots;
  EXPECT_EQ(slots[0], 0u);  // next: 1 is alone in bucket 4
  EXPECT_EQ(slots[1], 1u);
  EXPECT_EQ(slots[2], 10u);
  EXPECT_EQ(slots[3], 11u);
  EXPECT_EQ(slots[5], 2u);
  EXPECT_EQ(slots[7], 21u);
  QMHashFree(t);
}

TEST(HashTable, EntriesAreCarvedFromBlocksOf128) {
  QMHashTable* t = QMHashNew(256, nullptr, nullptr, "blocks", 0);
  for (QMHashWord k = 1; k <= 128; k++) QMHashPut(t, k, k);
  ASSERT_NE(t->blocks, nullptr);
  EXPECT_EQ(t->blocks->used, 128);
  EXPECT_EQ(t->blocks->next, nullptr);
  QMHashBlock* first = t->blocks;
  QMHashPut(t, 129, 129);
  EXPECT_NE(t->blocks, first);
  EXPECT_EQ(t->blocks->next, first);
  EXPECT_EQ(t->blocks->used, 1);
  QMHashFree(t);
}

TEST(HashTable, EmptyIterationYieldsNullAndFreesIterator) {
  QMHashTable* t = QMHashNew(8, nullptr, nullptr, "empty", 0);
  int64_t before = cciTestLiveBlocks();
  QMHashIterator* it = QMHashIterate(t);
  ASSERT_NE(it, nullptr);
  EXPECT_EQ(it->bucket, -1);
  EXPECT_EQ(it->current, nullptr);
  EXPECT_EQ(cciTestLiveBlocks(), before + 1);
  EXPECT_EQ(QMHashNext(it), nullptr);
  EXPECT_EQ(cciTestLiveBlocks(), before);
  EXPECT_EQ(QMHashIterate(nullptr), nullptr);
  EXPECT_EQ(QMHashNext(nullptr), nullptr);
  QMHashFree(t);
}

TEST(HashTable, FreeReturnsEveryBlock) {
  int64_t before = cciTestLiveBlocks();
  QMHashTable* t = QMHashNew(8, nullptr, nullptr, "free", 1);
  for (QMHashWord k = 1; k <= 300; k++) QMHashPutExtra(t, k, k, k, 0);
  QMHashFree(t);
  EXPECT_EQ(cciTestLiveBlocks(), before);
}

TEST(HashTable, FailedGrowthKeepsOldSizeAndInserts) {
  QMHashTable* t = QMHashNew(8, nullptr, nullptr, "ints", 0);
  for (QMHashWord k = 1; k <= 16; k++) QMHashPut(t, k, k);
  cciTestFailAllocation(1);
  EXPECT_EQ(QMHashPut(t, 17, 17), 17);
  EXPECT_EQ(t->bucketCount, 8);
  EXPECT_EQ(t->shift, 29);
  for (QMHashWord k = 1; k <= 17; k++) EXPECT_EQ(QMHashGet(t, k), k);
  EXPECT_EQ(QMHashPut(t, 18, 18), 18);  // the next insert grows
  EXPECT_EQ(t->bucketCount, 16);
  QMHashFree(t);
}

TEST(HashTable, FailedBlockAllocationInsertsNothing) {
  for (int64_t failing : {1, 2}) {
    QMHashTable* t = QMHashNew(256, nullptr, nullptr, "blocks", 0);
    for (QMHashWord k = 1; k <= 128; k++) QMHashPut(t, k, k);
    int64_t before = cciTestLiveBlocks();
    cciTestFailAllocation(failing);  // 1: the block record, 2: its slots
    EXPECT_EQ(QMHashPut(t, 129, 129), 0) << failing;
    EXPECT_EQ(cciTestLiveBlocks(), before) << failing;
    EXPECT_EQ(QMHashCount(t), 128);
    EXPECT_EQ(QMHashGet(t, 129), 0u);
    QMHashFree(t);
  }
}

TEST(HashTable, RecordAllocationFailureYieldsNull) {
  cciTestFailAllocation(1);
  EXPECT_EQ(QMHashNew(8, nullptr, nullptr, "none", 0), nullptr);
}

TEST(StringHash, PinnedValues) {
  EXPECT_EQ(QMStringHash("a"), 0x61);
  EXPECT_EQ(QMStringHash("b"), 0x62);
  EXPECT_EQ(QMStringHash("ab"), 0xA5);
  EXPECT_EQ(QMStringHash("id"), 0xA1);
  EXPECT_EQ(QMStringHash(""), 0);
  EXPECT_EQ(QMStringHash(nullptr), 0);
  // Shifts are bits, not bytes, and repeat every four positions.
  EXPECT_EQ(QMStringHash("aaaaa"), 0x61 ^ (0x61 << 1) ^ (0x61 << 2) ^ (0x61 << 3) ^ 0x61);
}

TEST(StringHash, HighBytesAreSignExtended) {
  EXPECT_EQ(static_cast<uint32_t>(QMStringHash("\xE9")), 0xFFFFFFE9u);
  EXPECT_EQ(static_cast<uint32_t>(QMStringHash("a\xE9")), 0x61u ^ (0xFFFFFFE9u << 1));
  EXPECT_EQ(static_cast<uint32_t>(QMStringHash("a\xE9")), 0xFFFFFFB3u);
}

TEST(StringEqual, NullsAndTexts) {
  EXPECT_EQ(QMStringEqual(nullptr, nullptr), 1);
  EXPECT_EQ(QMStringEqual(nullptr, "x"), 0);
  EXPECT_EQ(QMStringEqual("x", nullptr), 0);
  char ab[] = "ab";
  EXPECT_EQ(QMStringEqual(ab, "ab"), 1);
  EXPECT_EQ(QMStringEqual("ab", "abc"), 0);
  EXPECT_EQ(QMStringEqual("abc", "ab"), 0);
  EXPECT_EQ(QMStringEqual("", ""), 1);
}

}  // namespace
