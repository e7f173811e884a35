// The little the runtime needs from the OS: where it lies on disk, the few
// file-system facts it needs to find its jars and the agent's library, and a
// process-wide memory barrier for its monitors. One implementation per OS:
// os_posix.cpp and os_windows.cpp.
//
// Thread-safety: every function may be called from any thread.
#ifndef CCOVER_RUNTIME_JVMTI_OS_H_
#define CCOVER_RUNTIME_JVMTI_OS_H_

#include <string>

namespace cci_jvmti {

// The folder of the loaded runtime library, without a trailing separator; ""
// when the OS can't tell.
std::string runtimeFolder();
bool fileExists(const std::string& path);
// The separator of path lists such as java.library.path (':' or ';').
char pathListSeparator();
// The agent library's file name as System.loadLibrary("ccover") looks for it.
const char* ccoverLibraryFileName();

// Prepares processBarrier; false when the OS offers none (the monitors then
// never reserve themselves for a thread).
bool enableProcessBarrier();
// A full memory barrier executed by every thread of the process before it
// returns (Linux membarrier, Windows FlushProcessWriteBuffers).
// REQUIRES: enableProcessBarrier() returned true.
void processBarrier();

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_OS_H_
