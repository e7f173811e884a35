// Machine-dependent JNI types for 32-bit Windows, where the Linux JDK that
// provides jni.h has none: JNI entry points use __stdcall and are exported
// from the DLL; jint is a 32-bit long.
#ifndef CCOVER_PLATFORM_WINDOWS_JNI_MD_H_
#define CCOVER_PLATFORM_WINDOWS_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif  // CCOVER_PLATFORM_WINDOWS_JNI_MD_H_
