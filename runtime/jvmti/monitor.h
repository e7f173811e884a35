// Re-entrant monitors of the JVMTI runtime, handed to the agent as qmi monitor
// handles and used by the runtime for its own table and list.
//
// Uncontended, entering costs one compare-and-swap on the owner word and
// leaving one release store; re-entry by the owner costs no read-modify-write.
// A contended entry spins briefly, then yields, then sleeps in short steps. A
// thread inside a monitor is always running native code (a probe, a handler or
// a JVMTI callback), which JVMTI suspension does not stop, so a suspended
// program never holds one of these monitors.
//
// Monitors are never freed: the agent may hold a handle until the process ends.
//
// Thread-safety: every function may be called from any thread.
#ifndef CCOVER_RUNTIME_JVMTI_MONITOR_H_
#define CCOVER_RUNTIME_JVMTI_MONITOR_H_

#include <stddef.h>
#include <stdint.h>

namespace cci_jvmti {

// Starts, on a thread of its own, what reserving monitors needs from the
// system, which may take milliseconds; called at load so that no class waits
// for it. Optional: without it the first monitor entry does it. Later calls do
// nothing.
void prepareMonitors();

// A new monitor; the name is copied (it names the monitor in misuse messages).
void* newMonitor(const char* name);
// count new monitors in one block, for a class's methods. Monitor i of the
// block is monitorInBlock(block, i, number), named prefix followed by its
// number ("method42"), a name formatted only when a misuse message needs it.
// prefix must outlive the monitors (a literal). Each monitor has a cache line
// of its own, so threads in different methods never write to the same line.
// REQUIRES: count > 0; monitorInBlock once per monitor, before it is entered.
void* newMonitorBlock(const char* prefix, size_t count);
void* monitorInBlock(void* block, size_t index, uint32_t number);
void enterMonitor(void* monitor);
// REQUIRES: the calling thread owns the monitor.
void exitMonitor(void* monitor);
// True when the calling thread owns the monitor (for tests and checks).
bool ownsMonitor(void* monitor);

class MonitorLocker {
 public:
  explicit MonitorLocker(void* monitor) : monitor_(monitor) { enterMonitor(monitor_); }
  ~MonitorLocker() { exitMonitor(monitor_); }
  MonitorLocker(const MonitorLocker&) = delete;
  MonitorLocker& operator=(const MonitorLocker&) = delete;

 private:
  void* monitor_;
};

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_MONITOR_H_
