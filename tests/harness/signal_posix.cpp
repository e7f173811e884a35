#include <signal.h>
#include <sys/types.h>

#include "tests/harness/signal.h"

bool killProcessNow(long pid) { return pid > 0 && kill(static_cast<pid_t>(pid), SIGKILL) == 0; }
