// sMalloc and sFree over malloc, with counters of live blocks and allocations
// so that tests can prove the agent gives back what it takes.
//
// Every block carries a small header with a tag: blocks the agent allocates are
// counted, blocks the runtime allocates for its own tables are not, and a block
// handed back twice or never handed out ends the process with a message instead
// of corrupting the counters.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <cstddef>

#include "runtime/testing/runtime_internal.h"

namespace cci_testing {
namespace {

constexpr uint32_t kCountedTag = 0x43434931u;   // "CCI1"
constexpr uint32_t kInternalTag = 0x43434932u;  // "CCI2"
constexpr uint32_t kFreedTag = 0x46524545u;     // "FREE"
constexpr size_t kHeaderSize = alignof(std::max_align_t) > 16 ? alignof(std::max_align_t) : 16;

std::atomic<int64_t> liveBlocks{0};
std::atomic<int64_t> allocations{0};
// The allocation number (as counted by allocations) that fails; 0: none.
std::atomic<int64_t> failingAllocation{0};

thread_local int internalDepth = 0;

}  // namespace

InternalAllocation::InternalAllocation() { internalDepth++; }
InternalAllocation::~InternalAllocation() { internalDepth--; }

char* keepString(const char* text) {
  if (text == nullptr) return nullptr;
  size_t length = strlen(text) + 1;
  char* copy = static_cast<char*>(keepBlock(length));
  memcpy(copy, text, length);
  return copy;
}

void* keepBlock(size_t size) {
  // Runtime records live until the process ends; they stay reachable through
  // the object table or the graveyard of dropped tables, so leak checkers do
  // not report them.
  void* block = calloc(1, size == 0 ? 1 : size);
  if (block == nullptr) {
    fputs("cci testing runtime: out of memory\n", stderr);
    abort();
  }
  return block;
}

}  // namespace cci_testing

using cci_testing::internalDepth;

extern "C" {

CCI_API void* sMalloc(size_t size) {
  bool counted = internalDepth == 0;
  if (counted) {
    int64_t number = cci_testing::allocations.fetch_add(1, std::memory_order_relaxed) + 1;
    if (number == cci_testing::failingAllocation.load(std::memory_order_relaxed)) return nullptr;
  }
  if (size > SIZE_MAX - cci_testing::kHeaderSize) return nullptr;
  unsigned char* raw = static_cast<unsigned char*>(malloc(cci_testing::kHeaderSize + size));
  if (raw == nullptr) return nullptr;
  uint32_t tag = counted ? cci_testing::kCountedTag : cci_testing::kInternalTag;
  memcpy(raw, &tag, sizeof(tag));
  if (counted) cci_testing::liveBlocks.fetch_add(1, std::memory_order_relaxed);
  return raw + cci_testing::kHeaderSize;
}

CCI_API void sFree(void* block) {
  if (block == nullptr) return;
  unsigned char* raw = static_cast<unsigned char*>(block) - cci_testing::kHeaderSize;
  uint32_t tag;
  memcpy(&tag, raw, sizeof(tag));
  if (tag == cci_testing::kCountedTag) {
    cci_testing::liveBlocks.fetch_sub(1, std::memory_order_relaxed);
  } else if (tag != cci_testing::kInternalTag) {
    fprintf(stderr, "cci testing runtime: sFree of a block not from sMalloc (or freed twice): %p\n",
            block);
    fflush(stderr);
    abort();
  }
  uint32_t freed = cci_testing::kFreedTag;
  memcpy(raw, &freed, sizeof(freed));
  free(raw);
}

CCI_API int64_t cciTestLiveBlocks(void) {
  return cci_testing::liveBlocks.load(std::memory_order_relaxed);
}

CCI_API int64_t cciTestAllocations(void) {
  return cci_testing::allocations.load(std::memory_order_relaxed);
}

CCI_API void cciTestFailAllocation(int64_t nth) {
  int64_t target = nth <= 0 ? 0 : cci_testing::allocations.load() + nth;
  cci_testing::failingAllocation.store(target, std::memory_order_relaxed);
}

}  // extern "C"
