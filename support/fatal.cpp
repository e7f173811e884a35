#include "support/fatal.h"

#include <stdarg.h>
#include <stdlib.h>

void fatalExit(FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(stream, format, args);
  va_end(args);
  fatalExitQuiet();
}

void fatalExitQuiet() {
  fflush(stdout);
  fflush(stderr);
  exit(1);
}
