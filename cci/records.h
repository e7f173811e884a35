// The class, interface and method records that cci allocates and fills, and the
// agent reads and updates. Their layout is shared with cci byte for byte on the
// 32-bit targets (checked below); on 64-bit targets pointers are pointer-sized.
//
// cci owns every record, array and lock; the agent never allocates, frees or
// resizes them, and writes only the fields marked "agent". Records live until the
// process ends, so raw pointers to them may be kept.
//
// Thread-safety: counters (hits, invocations) and touched are written by the
// execution handlers without a common lock with their readers; every access
// outside the handlers' own increments goes through the relaxed helpers below.
#ifndef CCOVER_CCI_RECORDS_H_
#define CCOVER_CCI_RECORDS_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>

enum CObjectType : uint32_t {
  kCObjectClass = 2,
  kCObjectInterface = 3,
  kCObjectMethod = 4,
};

struct CObject {
  uint32_t type;  // CObjectType; any other value is invalid
  void* record;   // CClass, CInterface or CMethod
};

enum { kSynchronizedFlag = 0x20 };

// Why a method with code counts less than its lines (CMethod::uncounted), so
// that a report can tell "not run" from "not instrumented". Written by cci
// before the record is registered; the agent only reads it.
enum CMethodUncounted : uint8_t {
  kUncountedNone = 0,
  kUncountedLines = 1,   // too large for line probes: its entries count, its lines have no slots
  kUncountedMethod = 2,  // left as it was: neither its entries nor its lines count
};

struct CMethod {
  uint32_t id;
  uint32_t classId;
  char* name;
  char* signature;
  uint16_t accessFlags;        // 0x20: synchronized
  uint16_t lineCount;          // line slots; 0 without line information
  uint16_t* lineNumbers;       // source line of each slot; may be null
  uint32_t* hits;              // agent: execution count of each slot
  uint32_t* markedHits;        // agent: hits at the last mark
  uint32_t invocations;        // agent
  uint32_t markedInvocations;  // agent
  uint8_t touched;             // agent: class queued for an update
  uint8_t uncounted;           // CMethodUncounted: what of its code runs uncounted
  uint8_t padding2A[2];
  void* lock;  // monitor guarding hits and invocations
};

struct CClass {
  uint32_t id;
  uint16_t accessFlags;
  uint16_t padding06;
  char* name;
  char* sourceName;  // may be null
  uint16_t loaded;   // 0: only id and name are usable
  uint16_t methodCount;
  CMethod* methods;  // methodCount records, one after another
  uint32_t cciReserved[2];
  uint16_t coverage;           // agent: fraction x 10000
  uint16_t coverageSinceMark;  // agent
  uint16_t coverageAtMark;     // agent
  uint8_t hasLines;
  uint8_t padding27;
  uint16_t lineCount;
  uint16_t padding2A;
  int32_t missedLines;           // agent
  int32_t missedLinesSinceMark;  // agent
};

struct CInterface {
  uint32_t id;
  uint16_t accessFlags;
  uint16_t padding06;
  char* name;
  char* sourceName;  // may be null
  uint16_t methodCount;
  uint16_t padding12;
  CMethod* methods;  // only their id is read
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(CObject) == 8 && offsetof(CObject, record) == 4, "CObject layout");
static_assert(offsetof(CClass, accessFlags) == 0x04, "CClass layout");
static_assert(offsetof(CClass, name) == 0x08, "CClass layout");
static_assert(offsetof(CClass, sourceName) == 0x0C, "CClass layout");
static_assert(offsetof(CClass, loaded) == 0x10, "CClass layout");
static_assert(offsetof(CClass, methodCount) == 0x12, "CClass layout");
static_assert(offsetof(CClass, methods) == 0x14, "CClass layout");
static_assert(offsetof(CClass, coverage) == 0x20, "CClass layout");
static_assert(offsetof(CClass, coverageSinceMark) == 0x22, "CClass layout");
static_assert(offsetof(CClass, coverageAtMark) == 0x24, "CClass layout");
static_assert(offsetof(CClass, hasLines) == 0x26, "CClass layout");
static_assert(offsetof(CClass, lineCount) == 0x28, "CClass layout");
static_assert(offsetof(CClass, missedLines) == 0x2C, "CClass layout");
static_assert(offsetof(CClass, missedLinesSinceMark) == 0x30, "CClass layout");
static_assert(sizeof(CClass) == 0x34, "CClass layout");
static_assert(offsetof(CInterface, name) == 0x08, "CInterface layout");
static_assert(offsetof(CInterface, sourceName) == 0x0C, "CInterface layout");
static_assert(offsetof(CInterface, methodCount) == 0x10, "CInterface layout");
static_assert(offsetof(CInterface, methods) == 0x14, "CInterface layout");
static_assert(sizeof(CInterface) == 0x18, "CInterface layout");
static_assert(offsetof(CMethod, classId) == 0x04, "CMethod layout");
static_assert(offsetof(CMethod, name) == 0x08, "CMethod layout");
static_assert(offsetof(CMethod, signature) == 0x0C, "CMethod layout");
static_assert(offsetof(CMethod, accessFlags) == 0x10, "CMethod layout");
static_assert(offsetof(CMethod, lineCount) == 0x12, "CMethod layout");
static_assert(offsetof(CMethod, lineNumbers) == 0x14, "CMethod layout");
static_assert(offsetof(CMethod, hits) == 0x18, "CMethod layout");
static_assert(offsetof(CMethod, markedHits) == 0x1C, "CMethod layout");
static_assert(offsetof(CMethod, invocations) == 0x20, "CMethod layout");
static_assert(offsetof(CMethod, markedInvocations) == 0x24, "CMethod layout");
static_assert(offsetof(CMethod, touched) == 0x28, "CMethod layout");
static_assert(offsetof(CMethod, uncounted) == 0x29, "CMethod layout");
static_assert(offsetof(CMethod, lock) == 0x2C, "CMethod layout");
static_assert(sizeof(CMethod) == 48, "CMethod layout");
#endif

// Relaxed access to fields shared with the handlers without a common lock. The
// records keep their plain layout; std::atomic_ref only changes how they are read.
template <typename T>
inline T loadRelaxed(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}

template <typename T>
inline void storeRelaxed(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

#endif  // CCOVER_CCI_RECORDS_H_
