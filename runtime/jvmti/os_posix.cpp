#include <dlfcn.h>
#include <linux/membarrier.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "runtime/jvmti/os.h"

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

bool enableProcessBarrier() {
  long commands = syscall(__NR_membarrier, MEMBARRIER_CMD_QUERY, 0, 0);
  if (commands < 0 || (commands & MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0) return false;
  return syscall(__NR_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}

void processBarrier() { syscall(__NR_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0); }

}  // namespace cci_jvmti
