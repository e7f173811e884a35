// The Java answers: class information for newly loaded classes, and coverage
// figures of classes and methods, written into netscape/util/Hashtable
// instances that the Java side passes in. The outer table maps "%d" of an object
// ID to an inner table of short keys; every number travels as a decimal string.
//
// Thread-safety: runs on the Java side's threads while the program counts. The
// object table's lock is held only for single lookups; counters are read with
// relaxed loads, so a line counted during an answer may or may not show in it.
#ifndef CCOVER_ANSWERS_ANSWERS_H_
#define CCOVER_ANSWERS_ANSWERS_H_

#include <jni.h>

#include "cci/records.h"

enum { kClassInfoBatch = 40 };

jboolean hasNewClasses();
// Takes up to 40 queued classes, the one queued last first. With a null table
// nothing is taken, so nothing the Java side could never see is lost.
void fillClassInfoAnswer(JNIEnv* env, jobject table);

void fillClassCoverageAnswer(JNIEnv* env, jobject table, jintArray ids);
// With a null table updatedClasses is not drained.
void fillAllClassCoverageAnswer(JNIEnv* env, jobject table);
void fillMethodAnswer(JNIEnv* env, jobject table, jintArray ids, bool withInfo);

// The class the method answers used last (never cleared).
CClass* lastClassRecord();

#endif  // CCOVER_ANSWERS_ANSWERS_H_
