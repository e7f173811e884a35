#include <windows.h>

#include "tests/harness/jvm.h"

namespace jvm_internal {

void* loadSymbol(const char* library, const char* symbol, std::string* error) {
  if (library == nullptr || *library == '\0') {
    *error = "no JVM is configured for this target";
    return nullptr;
  }
  HMODULE module = LoadLibraryA(library);
  if (module == nullptr) {
    *error = "LoadLibrary failed with " + std::to_string(GetLastError());
    return nullptr;
  }
  void* address = reinterpret_cast<void*>(GetProcAddress(module, symbol));
  if (address == nullptr) *error = "GetProcAddress failed";
  return address;
}

}  // namespace jvm_internal
