// The process and its files on Windows: kept apart from windows.cpp so that
// the agent, which needs none of it, links none of it.
// clang-format off
#include <windows.h>
// clang-format on
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

#include "platform/platform.h"

namespace platform {

std::string thisLibraryFolder() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&thisLibraryFolder), &module)) {
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

bool fileExists(const char* path) {
  struct _stat st;
  return _stat(path, &st) == 0;
}

char pathListSeparator() { return ';'; }

// The runtime's paths are in the ANSI code page already, the one the JVM reads
// them with.
std::string localeCodeset() { return std::string(); }

std::string libraryFileName(const char* base) { return std::string(base) + ".dll"; }

bool enableProcessBarrier() { return true; }

void processBarrier() { FlushProcessWriteBuffers(); }

namespace {

DWORD WINAPI runThread(LPVOID run) {
  reinterpret_cast<void (*)()>(run)();
  return 0;
}

}  // namespace

bool startDetachedThread(void (*run)()) {
  HANDLE thread = CreateThread(nullptr, 0, runThread, reinterpret_cast<LPVOID>(run), 0, nullptr);
  if (thread == nullptr) return false;
  CloseHandle(thread);
  return true;
}

bool stdoutTakesColour() {
  if (getenv("NO_COLOR") != nullptr) return false;
  if (_isatty(_fileno(stdout)) == 0) return false;
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) return false;
  return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

FILE* createNewFile(const char* path) {
  int fd =
      _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return file;
}

void binaryStdout() { _setmode(_fileno(stdout), _O_BINARY); }

}  // namespace platform
