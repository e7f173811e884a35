// The runtime's options and its class filter.
//
// Options come as the agent's option text, comma-separated:
//   -agentpath:/path/libcci.so=snapshotAtExit,includes=app.*,excludes=app.gen.*
//   -Xruncci:includes=app.*
//
//   snapshotAtExit      the Java side, started by the runtime, writes an exit snapshot
//   ignoreShutdown      the Java side, started by the runtime, holds the dying VM
//   nostart             never start the Java side at VM init
//   includes=P:P...     classes to instrument (default: all); P is a dotted name
//                       (a '/' in P is refused)
//   excludes=P:P...     classes never to instrument, on top of the JDK and the agent
//                       (patterns: * any run of characters, ? one character)
//   home=DIR            where cci.jar lies
//                       (default: the folder of the runtime library)
//   ccoverJar=FILE      ccover.jar for the Java side started by the runtime
//   ccoverLib=DIR       the folder of the ccover library for that Java side
//   counting=inline     (default) the probes count in the records themselves and
//                       call the handlers only for a method not yet touched
//   counting=exact      every event goes through the handlers (exact under any
//                       concurrency)
//   probes=empty        bind the probes to empty functions (the cost floor of
//                       this design; nothing is counted)
//   verbose             one line on standard error for each instrumented class
//   counterStart=N      every counter of an instrumented class starts at N
//                       (0 to 4294967295) instead of 0: for tests that drive
//                       counters to their limit without running 2^32 times
//   live                start the live coverage viewer on 127.0.0.1, a free port
//   live=[HOST:]PORT    ... on HOST (default 127.0.0.1) and PORT (0: a free one);
//                       an IPv6 address goes in brackets: live=[::1]:8080
//   destfile=PATH       at VM death the runtime writes the snapshot to PATH
//                       (missing folders are created), silently on success;
//                       the Java side then writes no exit snapshot of its own
//   append[=true|false] with destfile (default true): merge this run into an
//                       existing PATH rather than replace it
//   sessionid=TEXT      the destfile snapshot's comment (no ',' possible)
//
// Thread-safety: parsing happens once, before any other thread reads them;
// classIncluded only reads.
#ifndef CCOVER_RUNTIME_JVMTI_OPTIONS_H_
#define CCOVER_RUNTIME_JVMTI_OPTIONS_H_

#include <stdint.h>

#include <string>
#include <vector>

namespace cci_jvmti {

struct Options {
  bool snapshotAtExit = false;
  bool ignoreShutdown = false;
  bool autoStart = true;
  bool emptyProbes = false;
  bool inlineCounting = true;  // counting=inline; probes=empty implies exact probes
  bool verbose = false;
  uint32_t counterStart = 0;
  std::vector<std::string> includes;  // empty: everything
  std::vector<std::string> excludes;  // added to the default exclusions
  std::string home;
  std::string ccoverJar;
  std::string ccoverLib;
  // The live viewer, started with the agent's Java side (see live.h).
  bool live = false;
  std::string liveHost = "127.0.0.1";
  int livePort = 0;
  // The snapshot file written at VM death (destfile.h); "" for none.
  std::string destfile;
  bool append = true;
  bool appendGiven = false;  // append named explicitly: refused without destfile
  std::string sessionId;
};

// Parses the option text (null or "" gives the defaults). False, with a
// message in *error, on an unknown option, a malformed value or a pattern
// written with '/' instead of dots.
bool parseOptions(const char* text, Options* out, std::string* error);

// Reads the value of live=[HOST:]PORT: a decimal port from 0 to 65535, after
// an optional host name or address (IPv6 in brackets). False, with a message
// in *error that names what is wrong, otherwise.
bool parseLiveAddress(const std::string& value, std::string* host, int* port, std::string* error);

// Wildcard match of a whole dotted name: * matches any run of characters
// (dots included), ? exactly one.
bool wildcardMatch(const char* pattern, const char* name);

// Whether a class, named in internal form ("a/b/C"), is instrumented: not in
// the JDK (java., javax., jdk., sun., com.sun.), not the agent's or the
// runtime's own (quorvatix.audit., quorvatix.cci., netscape.util.), matched by
// an include pattern (when there are any) and by no exclude pattern.
bool classIncluded(const Options& options, const char* internalName);

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_OPTIONS_H_
