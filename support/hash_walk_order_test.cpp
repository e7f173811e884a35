#include "support/hash_walk_order.h"

#include <stdint.h>

#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/testing/cci_testing.h"
#include "support/hash_table.h"

namespace {

// The put indexes in the walk order of a real table that received the keys
// in order (the index rides as the value).
std::vector<int32_t> tableWalk(const std::vector<QMHashWord>& keys, int32_t sizeHint,
                               QMHashFn hashFn, QMEqualFn equalFn) {
  QMHashTable* t = QMHashNew(sizeHint, hashFn, equalFn, nullptr, 0);
  for (size_t i = 0; i < keys.size(); i++) QMHashPut(t, keys[i], static_cast<QMHashWord>(i));
  std::vector<int32_t> walk;
  for (QMHashIterator* it = QMHashNext(QMHashIterate(t)); it != nullptr; it = QMHashNext(it)) {
    walk.push_back(static_cast<int32_t>(it->value));
  }
  QMHashFree(t);
  return walk;
}

std::vector<int32_t> computedWalk(const std::vector<int32_t>& hashes, int32_t sizeHint) {
  std::vector<int32_t> walk(hashes.size(), -1);
  EXPECT_TRUE(
      QMHashWalkOrder(hashes.data(), static_cast<int32_t>(hashes.size()), sizeHint, walk.data()));
  return walk;
}

class HashWalkOrderTest : public ::testing::Test {
 protected:
  void SetUp() override { liveAtStart_ = cciTestLiveBlocks(); }
  void TearDown() override { EXPECT_EQ(cciTestLiveBlocks(), liveAtStart_); }

 private:
  int64_t liveAtStart_ = 0;
};

// Decimal object IDs, as a snapshot's roots key their members: their string
// hash collides a lot, so chains are long and every doubling reorders them.
// The counts straddle the doublings of a table of 200 (at 512, 1,024, ...)
// and reach seven of them.
TEST_F(HashWalkOrderTest, DecimalKeysWalkAsARealTableOfTwoHundred) {
  std::mt19937 random(7);
  for (int32_t count : {0, 1, 2, 511, 512, 513, 1024, 1025, 1537, 4097, 40000}) {
    std::vector<std::string> texts;
    texts.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; i++) {
      // Mostly ascending IDs with gaps, some negative ones, some repeated.
      int32_t jitter = static_cast<int32_t>(random() % 3);
      int32_t id = i % 97 == 5 ? -static_cast<int32_t>(random() % 100000)
                               : (i % 89 == 3 ? 42 : i * 3 + jitter);
      texts.push_back(std::to_string(id));
    }
    std::vector<QMHashWord> keys;
    std::vector<int32_t> hashes;
    for (const std::string& text : texts) {
      keys.push_back(reinterpret_cast<QMHashWord>(text.c_str()));
      hashes.push_back(QMStringHash(text.c_str()));
    }
    EXPECT_EQ(computedWalk(hashes, 200), tableWalk(keys, 200, QMStringHashWord, QMStringEqualWord))
        << count << " keys";
  }
}

// Integer keys (the word is the hash) and other starting sizes, down to the
// smallest table of 8 buckets, which doubles many times.
TEST_F(HashWalkOrderTest, IntegerKeysAndOtherSizeHints) {
  std::mt19937 random(11);
  for (int32_t hint : {0, 8, 9, 1000}) {
    for (int32_t count : {3, 16, 17, 100, 5000}) {
      std::vector<QMHashWord> keys;
      std::vector<int32_t> hashes;
      for (int32_t i = 0; i < count; i++) {
        uint32_t key = i % 2 == 0 ? static_cast<uint32_t>(random()) : static_cast<uint32_t>(i);
        keys.push_back(key);
        hashes.push_back(static_cast<int32_t>(key));
      }
      EXPECT_EQ(computedWalk(hashes, hint), tableWalk(keys, hint, nullptr, nullptr))
          << count << " keys, hint " << hint;
    }
  }
}

TEST_F(HashWalkOrderTest, MemoryRunningOutIsReported) {
  std::vector<int32_t> hashes = {1, 2, 3};
  std::vector<int32_t> walk(3);
  for (int64_t nth : {1, 2}) {
    cciTestFailAllocation(nth);
    EXPECT_FALSE(QMHashWalkOrder(hashes.data(), 3, 200, walk.data())) << "allocation " << nth;
    cciTestFailAllocation(0);
  }
  EXPECT_TRUE(QMHashWalkOrder(hashes.data(), 3, 200, walk.data()));
}

}  // namespace
