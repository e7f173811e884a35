#include "answers/answer_table.h"

#include <stdio.h>
#include <string.h>

#include "support/java_objects.h"

AnswerClasses answerClasses;

void bindAnswerClasses(JNIEnv* env) {
  AnswerClasses& a = answerClasses;
  a.hashtableClass = findGlobalClass(env, "netscape/util/Hashtable");
  a.vectorClass = findGlobalClass(env, "netscape/util/Vector");
  a.hashtablePut = findMethod(env, a.hashtableClass, "put",
                              "(Ljava/lang/Object;Ljava/lang/Object;)Ljava/lang/Object;");
  a.vectorAddElement = findMethod(env, a.vectorClass, "addElement", "(Ljava/lang/Object;)V");
  a.vectorElementAt = findMethod(env, a.vectorClass, "elementAt", "(I)Ljava/lang/Object;");
  a.vectorCount = findMethod(env, a.vectorClass, "count", "()I");
}

namespace {

void put(JNIEnv* env, jobject table, jstring key, jobject value) {
  // The previous value, when the key was there already, is a local reference
  // too; it is dropped so that repeated keys do not pile up references.
  jobject previous = env->CallObjectMethod(table, answerClasses.hashtablePut, key, value);
  // The Java side's tables do not throw; the check is what JNI asks for after
  // a call into Java. An exception left pending ends the JVM at the next
  // allocation, as any pending exception does there.
  env->ExceptionCheck();
  if (previous != nullptr) env->DeleteLocalRef(previous);
  env->DeleteLocalRef(key);
  env->DeleteLocalRef(value);
}

}  // namespace

jobject newAnswerTable(JNIEnv* env) { return QMAllocateObject(env, answerClasses.hashtableClass); }

jobject newAnswerVector(JNIEnv* env) { return QMAllocateObject(env, answerClasses.vectorClass); }

void putText(JNIEnv* env, jobject table, const char* key, const char* text) {
  jstring keyString = QMAllocateStringUTF(env, key);
  jstring value = QMAllocateStringUTF(env, text != nullptr ? text : "");
  put(env, table, keyString, value);
}

void putInt(JNIEnv* env, jobject table, const char* key, int32_t value) {
  char buffer[16];
  snprintf(buffer, sizeof(buffer), "%d", static_cast<int>(value));
  putText(env, table, key, buffer);
}

void putObject(JNIEnv* env, jobject table, const char* key, jobject object) {
  put(env, table, QMAllocateStringUTF(env, key), object);
}

void putObjectById(JNIEnv* env, jobject table, uint32_t id, jobject object) {
  char buffer[16];
  snprintf(buffer, sizeof(buffer), "%d", static_cast<int>(id));
  putObject(env, table, buffer, object);
}

void addInt(JNIEnv* env, jobject vector, int32_t value) {
  char buffer[16];
  snprintf(buffer, sizeof(buffer), "%d", static_cast<int>(value));
  jstring item = QMAllocateStringUTF(env, buffer);
  env->CallVoidMethod(vector, answerClasses.vectorAddElement, item);
  env->ExceptionCheck();
  env->DeleteLocalRef(item);
}

void formatPercent(double value, char* out, size_t size) {
  // 17 significant digits in exponent form: d.dddddddddddddddde[+-]x. Only the
  // digits and the exponent are read, so the locale's decimal point is irrelevant.
  char scientific[64];
  snprintf(scientific, sizeof(scientific), "%.16e", value);
  const char* p = scientific;
  bool negative = false;
  if (*p == '-') {
    negative = true;
    p++;
  }
  char mantissa[17];
  int digits = 0;
  while (*p != '\0' && *p != 'e' && *p != 'E') {
    if (*p >= '0' && *p <= '9' && digits < 17) mantissa[digits++] = *p;
    p++;
  }
  int exponent = 0;
  if (*p == 'e' || *p == 'E') {
    p++;
    int sign = 1;
    if (*p == '-' || *p == '+') sign = (*p++ == '-') ? -1 : 1;
    while (*p >= '0' && *p <= '9') exponent = exponent * 10 + (*p++ - '0');
    exponent *= sign;
  }
  if (digits == 0 || exponent > 300 || exponent < -300) {
    snprintf(out, size, "%s", negative ? "-0.00" : "0.00");
    return;
  }
  // Fixed-point digits: the integer part (at least one digit) then the first
  // three decimals; the third decides the rounding.
  auto digitAt = [&](int position) {  // position 0 is the 10^exponent digit
    return position >= 0 && position < digits ? mantissa[position] - '0' : 0;
  };
  int integerDigits = exponent >= 0 ? exponent + 1 : 1;
  int firstPosition = exponent >= 0 ? 0 : exponent;  // mantissa index of the first integer digit
  char fixed[400];
  int length = 0;
  fixed[length++] = '0';  // room for a carry
  for (int i = 0; i < integerDigits + 3; i++) {
    fixed[length++] = static_cast<char>('0' + digitAt(firstPosition + i));
  }
  bool roundUp = fixed[length - 1] >= '5';
  length--;  // drop the deciding digit
  if (roundUp) {
    for (int i = length - 1; i >= 0; i--) {
      if (fixed[i] == '9') {
        fixed[i] = '0';
      } else {
        fixed[i]++;
        break;
      }
    }
  }
  int start = 0;
  int integerEnd = length - 2;  // one past the last integer digit
  while (start < integerEnd - 1 && fixed[start] == '0') start++;
  snprintf(out, size, "%s%.*s.%c%c", negative ? "-" : "", integerEnd - start, fixed + start,
           fixed[length - 2], fixed[length - 1]);
}
