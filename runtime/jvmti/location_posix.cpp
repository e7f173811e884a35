#include <dlfcn.h>
#include <sys/stat.h>

#include "runtime/jvmti/location.h"

namespace cci_jvmti {

std::string runtimeFolder() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&runtimeFolder), &info) == 0 || info.dli_fname == nullptr) {
    return std::string();
  }
  std::string path(info.dli_fname);
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string(".");
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

char pathListSeparator() { return ':'; }

const char* ccoverLibraryFileName() { return "libccover.so"; }

}  // namespace cci_jvmti
