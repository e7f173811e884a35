// Where the runtime lies on disk, and the few file-system facts it needs to
// find its jars and the agent's library. One implementation per OS:
// location_posix.cpp and location_windows.cpp.
//
// Thread-safety: every function may be called from any thread.
#ifndef CCOVER_RUNTIME_JVMTI_LOCATION_H_
#define CCOVER_RUNTIME_JVMTI_LOCATION_H_

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

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_LOCATION_H_
