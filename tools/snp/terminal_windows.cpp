#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "tools/snp/terminal.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

bool stdoutTakesColour() {
  if (getenv("NO_COLOR") != nullptr) return false;
  if (_isatty(_fileno(stdout)) == 0) return false;
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) return false;
  return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
