#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "tools/snp/terminal.h"

bool stdoutTakesColour() {
  if (getenv("NO_COLOR") != nullptr) return false;
  const char* term = getenv("TERM");
  if (term != nullptr && strcmp(term, "dumb") == 0) return false;
  return isatty(STDOUT_FILENO) != 0;
}
