// Ending another process abruptly, as a crash or `kill -9` would, for the
// tests that prove a file survives it. POSIX only (the JVM tests' platforms).
//
// Thread-safety: may be called from any thread.
#ifndef CCOVER_TESTS_HARNESS_SIGNAL_H_
#define CCOVER_TESTS_HARNESS_SIGNAL_H_

// Sends SIGKILL to the process; false when there is no such process.
bool killProcessNow(long pid);

#endif  // CCOVER_TESTS_HARNESS_SIGNAL_H_
