#include <dlfcn.h>

#include "tests/harness/jvm.h"

namespace jvm_internal {

void* loadSymbol(const char* library, const char* symbol, std::string* error) {
  void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    *error = dlerror();
    return nullptr;
  }
  void* address = dlsym(handle, symbol);
  if (address == nullptr) *error = dlerror();
  return address;
}

}  // namespace jvm_internal
