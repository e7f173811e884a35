// SElem: the in-memory tree that a snapshot is built as before the serializer
// writes it. An element is a tagged value: an integer, a 64-bit integer, a
// counted string, a list of elements, a named element with string-keyed members,
// or one of three blocks (bytes, int32 values, int64 values).
//
// Ownership: a list owns its children; a named element owns its name copy, its
// key copies and its members; a string owns its data; a block owns its data when
// owns is nonzero. Every element has at most one parent, and SEFree of the root
// releases the whole tree. All memory comes from sMalloc.
//
// Member order: a named element keeps its members in a QMHashTable keyed by the
// key copies (QMStringHashWord / QMStringEqualWord); they are written in the
// table's iteration order, so the keys, the creation capacity and the order of
// the puts decide the bytes of the file.
//
// Thread-safety: none; a tree is built, written and freed by one thread.
#ifndef CCOVER_SUPPORT_ELEMENT_H_
#define CCOVER_SUPPORT_ELEMENT_H_

#include <stdint.h>

#include "support/hash_table.h"
#include "support/vector.h"

enum SEKind : int32_t {
  SE_INT32 = 1,
  SE_INT64 = 2,
  SE_STRING = 3,
  SE_LIST = 4,
  SE_NAMED = 5,
  SE_BYTES = 6,
  SE_INT32_ARRAY = 7,
  SE_INT64_ARRAY = 8,
};

struct SEString {
  int32_t length;  // bytes held
  char* data;      // length bytes and one added NUL
};

// Kinds 6 to 8: count is the number of bytes (6) or values (7, 8).
struct SEBlock {
  int32_t count;
  void* data;    // uint8_t, int32_t or int64_t values
  int32_t owns;  // nonzero: SEFree frees data
};

struct SElem {
  int32_t kind;  // SEKind; any other value is written as nothing and freed alone
  union {
    int32_t int32Value;    // SE_INT32
    int64_t int64Value;    // SE_INT64
    SEString string;       // SE_STRING
    QMVector* children;    // SE_LIST, in order
    QMHashTable* members;  // SE_NAMED; its name field is the element's name copy
    SEBlock block;         // SE_BYTES, SE_INT32_ARRAY, SE_INT64_ARRAY
  };
};

// Constructors return null when memory runs out (nothing is left allocated).
SElem* SENewInt32(int32_t value);
SElem* SENewInt64(int64_t value);
// Copies length bytes and adds a NUL after them; the stored length is length.
// REQUIRES: length >= 0; bytes may be null only when length is 0.
SElem* SENewStringN(const char* bytes, int32_t length);
// SENewStringN(text, strlen(text) + 1): the text's own NUL is part of the bytes
// held and written.
SElem* SENewString(const char* text);
SElem* SENewList(int32_t capacity);
// name null: "NO_NAME". The name exists in memory only; it is never written.
SElem* SENewNamed(int32_t capacity, const char* name);
// Copying constructors of the three blocks; the element owns its copy.
SElem* SENewBytes(const void* bytes, int32_t length);
SElem* SENewInt32Array(const int32_t* values, int32_t count);
SElem* SENewInt64Array(const int64_t* values, int32_t count);

// Both take the child over and return true when it was added. On false (the
// parent is not a list / named element, the child is null, or memory ran out)
// nothing changed and the child is still the caller's to free.
bool SEListAdd(SElem* list, SElem* child);
// Copies the key. A key put twice gives two members; both are written and
// freed, and a lookup finds the newer.
bool SENamedPut(SElem* named, const char* key, SElem* child);

// SE_INT32: the value; SE_STRING: atoi of its text (clamped to 32 bits). A null
// element or another kind: -1, and a text for SEDiagnostic.
int32_t SEGetInt32(const SElem* e);
// SE_INT32 widened with its sign, SE_INT64 as is; otherwise -1 as above.
int64_t SEGetInt64(const SElem* e);
// The element's name (SE_NAMED only), else null.
const char* SENamedName(const SElem* e);
// The member of that key put last, or null (any kind but SE_NAMED: null).
// Looking up may reorder the member table's chains, and so the written order.
SElem* SENamedGet(SElem* named, const char* key);

// Releases the element and everything it owns. Null: nothing.
void SEFree(SElem* e);

// Receives the getters' error texts and discards them, unless a sink is set.
void SEDiagnostic(const char* message);
typedef void (*SEDiagnosticSink)(const char* message);
// For tests: sees every diagnostic text. Null restores discarding.
void SESetDiagnosticSink(SEDiagnosticSink sink);

#endif  // CCOVER_SUPPORT_ELEMENT_H_
