// The tool runs without cci: the support library's allocations (element trees,
// member tables, converted texts) go to the C library instead.
#include <stdlib.h>

#include "cci/cci.h"

void* sMalloc(size_t size) { return malloc(size); }
void sFree(void* block) { free(block); }
