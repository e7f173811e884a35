#include <windows.h>
#include <sys/stat.h>

#include "runtime/jvmti/os.h"

namespace cci_jvmti {

std::string runtimeFolder() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&runtimeFolder), &module)) {
    return std::string();
  }
  char buffer[MAX_PATH];
  DWORD length = GetModuleFileNameA(module, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  std::string path(buffer, length);
  size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return std::string(".");
  return path.substr(0, slash);
}

bool fileExists(const std::string& path) {
  struct _stat st;
  return _stat(path.c_str(), &st) == 0;
}

char pathListSeparator() { return ';'; }

const char* ccoverLibraryFileName() { return "ccover.dll"; }

bool enableProcessBarrier() { return true; }

void processBarrier() { FlushProcessWriteBuffers(); }

}  // namespace cci_jvmti
