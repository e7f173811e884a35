#include "support/vector.h"

#include <stdio.h>
#include <string.h>

#include "cci/cci.h"

QMVector* QMNewVector(int32_t capacity) {
  QMVector* v = static_cast<QMVector*>(sMalloc(sizeof(QMVector)));
  if (v == nullptr) return nullptr;
  v->count = 0;
  v->capacity = 0;
  v->items = nullptr;
  if (capacity > 0) {
    v->items = static_cast<void**>(sMalloc(sizeof(void*) * static_cast<size_t>(capacity)));
    if (v->items != nullptr) v->capacity = capacity;
  }
  return v;
}

int32_t QMAddElement(QMVector* v, void* item) {
  if (v->count == v->capacity) {
    int64_t grown = 2 * static_cast<int64_t>(v->capacity) + 4;
    if (grown > INT32_MAX) return 0;
    void** items = static_cast<void**>(sMalloc(sizeof(void*) * static_cast<size_t>(grown)));
    if (items == nullptr) return 0;
    if (v->count > 0) memcpy(items, v->items, sizeof(void*) * static_cast<size_t>(v->count));
    if (v->items != nullptr) sFree(v->items);
    v->items = items;
    v->capacity = static_cast<int32_t>(grown);
  }
  v->items[v->count++] = item;
  return v->count;
}

void* QMRemoveLastElement(QMVector* v) {
  if (v->count <= 0) return nullptr;
  return v->items[--v->count];
}

int32_t QMContains(const QMVector* v, const void* item) {
  for (int32_t i = 0; i < v->count; i++) {
    if (v->items[i] == item) return 1;
  }
  return 0;
}

int32_t QMSize(const QMVector* v) { return v->count; }

void* QMElementAt(const QMVector* v, int32_t index) {
  if (index < 0 || index >= v->count) {
    fputs("QMElementAt : index out of bounds\n", stderr);
    return nullptr;
  }
  return v->items[index];
}

void QMFreeVector(QMVector* v) {
  if (v == nullptr) return;
  if (v->items != nullptr) sFree(v->items);
  sFree(v);
}
