// The program's main class, which names the exit snapshot, from what the java
// launcher leaves behind: its command (sun.java.command, the main class or jar
// or source file and then the program's arguments, joined by spaces) and the
// class path (java.class.path, which -jar sets to exactly the jar's path).
//
// The command alone can't be split: "-jar 'hello app.jar' a" and
// "-jar hello app.jar a" give the same text. So a jar is recognised by the
// class path it set, and a source file by the file that exists.
//
// Thread-safety: pure functions of their arguments and the file system.
#ifndef CCOVER_RUNTIME_JVMTI_MAIN_CLASS_H_
#define CCOVER_RUNTIME_JVMTI_MAIN_CLASS_H_

#include <string>

namespace cci_jvmti {

enum class LaunchKind {
  kNone,    // no command
  kClass,   // value: the main class, dotted (a module's class without its module)
  kJar,     // value: the jar's path; its Main-Class names the program
  kSource,  // value: the source file's path (java Single.java)
};

struct LaunchTarget {
  LaunchKind kind = LaunchKind::kNone;
  std::string value;
};

LaunchTarget launchTarget(const std::string& command, const std::string& classPath);

// The class that the source launcher runs from a single source file, in
// internal form ("demo/Single"): the first top-level type declared in text,
// in its package. A compact source file (top-level methods or fields, Java 25)
// declares an implicit class named after the file: then the file's name
// without folder and ".java".
std::string sourceMainClass(const std::string& text, const std::string& path);

// The file's text, at most maxBytes of it; "" when it can't be read.
std::string readSourceFile(const std::string& path, size_t maxBytes = 4u << 20);

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_MAIN_CLASS_H_
