#include "support/hash_walk_order.h"

#include <stdint.h>
#include <string.h>

#include "cci/cci.h"
#include "support/hash_table.h"

namespace {

// The doubling in force while the put of index i (0-based) ran: a put finds
// the table full when it already holds twice its buckets.
struct Growth {
  int32_t bits;
  int32_t nextAt;  // the put index that doubles the table next

  explicit Growth(int32_t sizeHint) : bits(QMHashInitialBits(sizeHint)), nextAt(limit()) {}

  int32_t limit() const {
    return bits < kQMHashMaxBits ? static_cast<int32_t>(int64_t{2} << bits) : INT32_MAX;
  }
  // Moves on to put index i; true when it doubled the table.
  bool reach(int32_t i) {
    if (i < nextAt) return false;
    bits++;
    nextAt = limit();
    return true;
  }
};

}  // namespace

bool QMHashWalkOrder(const int32_t* hashes, int32_t count, int32_t sizeHint, int32_t* walk) {
  if (count <= 0) return true;
  // The final size, and how many doublings came after each put: only its
  // parity matters.
  Growth growth(sizeHint);
  for (int32_t i = 0; i < count; i++) growth.reach(i);
  const int32_t finalBits = growth.bits;
  const size_t buckets = size_t{1} << finalBits;
  if (buckets > SIZE_MAX / sizeof(int32_t)) return false;  // a 32-bit target's limit
  // Per bucket: first the count of its keys and of those that come first
  // (an even number of doublings after their put), then where the next of
  // each kind goes.
  int32_t* firsts = static_cast<int32_t*>(sMalloc(buckets * sizeof(int32_t)));
  int32_t* seconds = static_cast<int32_t*>(sMalloc(buckets * sizeof(int32_t)));
  if (firsts == nullptr || seconds == nullptr) {
    if (firsts != nullptr) sFree(firsts);
    if (seconds != nullptr) sFree(seconds);
    return false;
  }
  memset(firsts, 0, buckets * sizeof(int32_t));
  memset(seconds, 0, buckets * sizeof(int32_t));
  // The bucket index of the final table: QMHashBucketIndex of a table of that
  // size whose key words are the hashes themselves.
  QMHashTable shape;
  memset(&shape, 0, sizeof shape);
  shape.shift = 32 - finalBits;
  auto bucketOf = [&shape](int32_t hash) {
    return QMHashBucketIndex(&shape, static_cast<QMHashWord>(static_cast<uint32_t>(hash)));
  };
  Growth replay(sizeHint);
  for (int32_t i = 0; i < count; i++) {
    replay.reach(i);
    int32_t b = bucketOf(hashes[i]);
    if ((finalBits - replay.bits) % 2 == 0) {
      firsts[b]++;
    } else {
      seconds[b]++;
    }
  }
  // firsts[b] becomes one past the slot of the bucket's newest first key (they
  // are placed backwards), seconds[b] the slot of its oldest second key.
  int32_t start = 0;
  for (size_t b = 0; b < buckets; b++) {
    int32_t firstCount = firsts[b];
    int32_t total = firstCount + seconds[b];
    firsts[b] = start + firstCount;
    seconds[b] = start + firstCount;
    start += total;
  }
  Growth place(sizeHint);
  for (int32_t i = 0; i < count; i++) {
    place.reach(i);
    int32_t b = bucketOf(hashes[i]);
    if ((finalBits - place.bits) % 2 == 0) {
      walk[--firsts[b]] = i;
    } else {
      walk[seconds[b]++] = i;
    }
  }
  sFree(firsts);
  sFree(seconds);
  return true;
}
