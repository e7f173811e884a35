// QMVector: a growable array of pointer-sized items, used as a list, a set and
// a stack. Its three words are shared with cci, which keeps the list of classes
// not yet reported to the Java side in one.
//
// The vector never owns its items. All memory comes from sMalloc.
// Thread-safety: none; whoever shares a vector locks it.
#ifndef CCOVER_SUPPORT_VECTOR_H_
#define CCOVER_SUPPORT_VECTOR_H_

#include <stdint.h>

struct QMVector {
  int32_t count;     // items held
  int32_t capacity;  // slots in items
  void** items;      // null when capacity is 0
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(QMVector) == 3 * 4, "QMVector is three words");
#endif

// Null when the record can't be allocated; capacity 0 when the array can't.
// REQUIRES: capacity >= 0.
QMVector* QMNewVector(int32_t capacity);
// Appends, growing to 2 * capacity + 4 when full. Returns the new count, or 0
// (vector unchanged) when the larger array can't be allocated.
int32_t QMAddElement(QMVector* v, void* item);
// Null on an empty vector.
void* QMRemoveLastElement(QMVector* v);
int32_t QMContains(const QMVector* v, const void* item);
int32_t QMSize(const QMVector* v);
// Null, and a message on standard error, when index is outside 0 .. count - 1.
void* QMElementAt(const QMVector* v, int32_t index);
void QMFreeVector(QMVector* v);

#endif  // CCOVER_SUPPORT_VECTOR_H_
