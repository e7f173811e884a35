// Building the Java side's answers: netscape/util/Hashtable and Vector instances
// filled with decimal strings. Every local reference is deleted as soon as it has
// been stored (a key and its value right after the put, a list item right after
// it was added, a vector or inner table right after it was put into its parent),
// so a fill of any size holds only a few local references at a time.
//
// Thread-safety: stateless; runs on the calling Java thread.
#ifndef CCOVER_ANSWERS_ANSWER_TABLE_H_
#define CCOVER_ANSWERS_ANSWER_TABLE_H_

#include <jni.h>
#include <stddef.h>
#include <stdint.h>

// The Java classes the answers are built from, looked up once at start.
struct AnswerClasses {
  jclass hashtableClass;
  jclass vectorClass;
  jmethodID hashtablePut;
  jmethodID vectorAddElement;
  jmethodID vectorElementAt;
  jmethodID vectorCount;
};

extern AnswerClasses answerClasses;

// Looks up netscape/util/Hashtable and netscape/util/Vector with the methods the
// answers call; a missing one ends the process with a "CCJNI" message.
void bindAnswerClasses(JNIEnv* env);

jobject newAnswerTable(JNIEnv* env);
jobject newAnswerVector(JNIEnv* env);
// table[key] = value; value is a string made from text.
void putText(JNIEnv* env, jobject table, const char* key, const char* text);
// table[key] = "%d" of value.
void putInt(JNIEnv* env, jobject table, const char* key, int32_t value);
// table[key] = object, then the local reference to object is deleted.
void putObject(JNIEnv* env, jobject table, const char* key, jobject object);
// Same, keyed by "%d" of id.
void putObjectById(JNIEnv* env, jobject table, uint32_t id, jobject object);
// vector.addElement("%d" of value).
void addInt(JNIEnv* env, jobject vector, int32_t value);

// Two-decimal text of a percentage: the value written with 17 significant
// digits, cut after the second decimal, the next digit deciding (5 or more
// rounds up). So 3.125 gives "3.13" on every target, whatever printf would do.
void formatPercent(double value, char* out, size_t size);

#endif  // CCOVER_ANSWERS_ANSWER_TABLE_H_
