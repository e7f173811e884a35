// The snapshot document: what a .snp file holds. Five items, one after another
// in one SEStream:
//   1. SnapRoot   (named, capacity 8): "Version" = "CC1-JDK12", "SnapVersion" = 1
//   2. Signature  (named, capacity 5): host, user, time stamp, comment, source path
//   3. ClassRoot  (named, capacity 200): object ID -> element of each class/interface
//   4. MethodRoot (named, capacity 200): object ID -> element of each method
//   5. the end marker 0xAADEBECA as a bare integer (02 CA BE DE AA)
// Each top-level item is built, written and freed before the next. ClassRoot
// and MethodRoot are written member by member: their keys are collected first
// (the count and the order come before any member), then each object's element
// is streamed from its record, members in the order the element's own table
// would give them; the bytes are those of the whole tree.
// docs/snapshot-format.md gives every member and order.
//
// A file that could not be written whole (a short write, a failed close, memory
// running out while a tree is built) is reported as a failure, and removed when
// it is a regular file, so that no truncated snapshot looks like a good one.
//
// REQUIRES: the caller holds the lock of idToCObjects for the whole call (the
// walk may not race with inserts). Counters and figures that the handlers and
// the update cycle write are read with relaxed atomic loads.
// Thread-safety: no state of its own; one call per stream.
#ifndef CCOVER_SNAPSHOT_DOCUMENT_H_
#define CCOVER_SNAPSHOT_DOCUMENT_H_

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include "cci/records.h"
#include "support/element.h"
#include "support/hash_table.h"
#include "support/serializer.h"

constexpr int32_t snapshotEndMarker = static_cast<int32_t>(0xAADEBECAu);

// Size of the work buffer that host name, user name and time text use in turn.
enum { kSignatureBufferSize = 2048 };

// Writes the whole document to path (modified UTF-8). sourcePath null: no
// "sourcepath" member (an empty one is kept); comment null or empty: no
// "comment". On success returns true; byteCount (when given) receives the bytes
// written, the file's size. If the file can't be opened, prints
// "S_CC_C : Cannot open file <path> for writing: <system error>" on standard
// error and returns false. If it can't be written whole, prints
// "S_CC_C : Cannot write file <path>: <reason>" on standard error, removes the
// file if it is a regular one, and returns false (byteCount still receives the
// bytes passed to the file).
bool writeSnapshotDocument(const char* path, const char* sourcePath, const char* comment,
                           QMHashTable* idToCObjects, int32_t* byteCount);
// The same into a file that the caller has just created (platform::createFile)
// under path: the file is closed in every case, and removed again when it can't
// be written whole.
bool writeNewSnapshotDocument(FILE* file, const char* path, const char* sourcePath,
                              const char* comment, QMHashTable* idToCObjects, int32_t* byteCount);

// Each writes its item. False when it could not be built whole (memory ran
// out); the stream then holds an incomplete item, or none.
bool writeSnapRoot(SEStream* stream);
bool writeSignature(SEStream* stream, const char* sourcePath, const char* comment);
bool writeClassRoot(SEStream* stream, QMHashTable* idToCObjects);
bool writeMethodRoot(SEStream* stream, QMHashTable* idToCObjects);

// The trees whose bytes the writers above write; null when memory ran out. The
// caller frees them with SEFree.
SElem* makeSnapRoot();
SElem* makeSignature(const char* sourcePath, const char* comment);
// One member per CObject of type 2 or 3 (ClassRoot) or 4 (MethodRoot), keyed
// by the object ID in "%d", in the table's iteration order.
SElem* makeClassRoot(QMHashTable* idToCObjects);
SElem* makeMethodRoot(QMHashTable* idToCObjects);
// The "SElem" element of a class (2), interface (3) or method (4); null for any
// other type, a null record, or when memory ran out.
SElem* makeObjectElement(const CObject* object);

// Fill a buffer of kSignatureBufferSize bytes: the host name ("localhost" when
// the system call fails) and the user name (empty when it can't be had), in
// the system's narrow encoding.
void getHostName(char* buf);
void getUserName(char* buf);
// The local time now in the fixed 25-character form "Tue Dec 08 03:55:31 2026\n"
// (English names, day with a leading zero), the same on every target. Empty
// when the local time can't be had.
void getTimestamp(char* buf, size_t size);
// The same form for a broken-down time; fields out of range give "???" names.
void formatTimestamp(const struct tm* time, char* buf, size_t size);

#endif  // CCOVER_SNAPSHOT_DOCUMENT_H_
