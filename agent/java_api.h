// The native methods of quorvatix.audit.CoverMain. Each one converts its Java
// arguments, calls core code and converts the result; nothing else happens here.
// The table lists them for JNI RegisterNatives, for hosts that bind them
// explicitly instead of by their exported names.
#ifndef CCOVER_AGENT_JAVA_API_H_
#define CCOVER_AGENT_JAVA_API_H_

#include <jni.h>

extern const JNINativeMethod kCoverMainNatives[];
extern const int kCoverMainNativeCount;

#endif  // CCOVER_AGENT_JAVA_API_H_
