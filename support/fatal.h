// The one way the agent ends the process on an inconsistency between cci and the
// events or requests it receives: print one message on the named stream, flush
// both standard streams, and exit with code 1.
//
// Thread-safety: may be called from any thread; the process ends.
#ifndef CCOVER_SUPPORT_FATAL_H_
#define CCOVER_SUPPORT_FATAL_H_

#include <stdio.h>

#if defined(__GNUC__)
#define CCOVER_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define CCOVER_PRINTF(fmt, args)
#endif

[[noreturn]] void fatalExit(FILE* stream, const char* format, ...) CCOVER_PRINTF(2, 3);
// Ends the process with code 1 after messages printed by the caller.
[[noreturn]] void fatalExitQuiet();

#endif  // CCOVER_SUPPORT_FATAL_H_
