// Snapshot requests: generateSnapshot from the Java side (a local file, or a
// remote viewer through CoverReporter) and the exit snapshot named after the
// program's main class and the local time.
//
// The figures of queued classes are brought up to date first; the object
// table's lock is held only while the document is written, never while a
// remote viewer is fed.
//
// Thread-safety: runs on the requesting thread; remote snapshots must not
// overlap (the Java side issues them one at a time).
#ifndef CCOVER_SNAPSHOT_GENERATION_H_
#define CCOVER_SNAPSHOT_GENERATION_H_

#include <jni.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

struct QMHashTable;

enum { kSnapshotNameBufferSize = 1024 };

// java/lang/System and its getProperty, which names the exit snapshot's folder.
struct SystemProperties {
  jclass systemClass;
  jmethodID getProperty;
};

extern SystemProperties systemProperties;

// Looks up java/lang/System.getProperty; a missing one ends the process with a
// "CCJNI" message.
void bindSystemProperties(JNIEnv* env);

jboolean generateSnapshot(JNIEnv* env, jstring file, jstring sourcePath, jstring comment,
                          jobject reporter, jobject stream, jboolean local);
bool generateSnapshotFile(JNIEnv* env, const char* fileName, const char* sourcePath,
                          const char* comment, jobject reporter, jobject stream, bool local,
                          QMHashTable* table, void* tableLock);
// Writes the exit snapshot, named after mainClass, into the folder that
// user.dir names. It never replaces a file: a taken name gets a number. A path
// too long for kSnapshotNameBufferSize is refused with one line on standard
// error saying so, before the usual failure message.
bool writeExitSnapshot(JNIEnv* env, const char* mainClass);

// The exit snapshot's path: directory (may be null: the current directory),
// separator, main class with "/" made "_", and the local time with no leading
// zeros. False when it does not fit size bytes.
bool formatExitSnapshotPath(char* out, size_t size, const char* directory, const char* mainClass,
                            const struct tm& time);

// The exit snapshot's name when another run has taken it: number inserted
// before ".snp" ("app_Main_12-8-2026_12-46-23-2.snp"). False when it does not
// fit size bytes.
bool numberedSnapshotPath(char* out, size_t size, const char* path, uint32_t number);

// The numbers tried after the plain name before giving up.
enum { kMaxSnapshotNumber = 100000 };

// Creates the exit snapshot's file exclusively: under path when that name is
// free, else under the first free numbered name (-2, -3, ...), which is then
// written into path. Null, with errno set and path as given, when none can be
// created.
FILE* createExitSnapshotFile(char* path, size_t size);

#endif  // CCOVER_SNAPSHOT_GENERATION_H_
