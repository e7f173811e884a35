// The class files that --classes names (folders and jars), described as the
// runtime describes a class it loads: the same classfile/ outline, so that
// each method's line slots are the ones the snapshot holds.
//
// Failure: a path that doesn't exist, a jar that isn't a zip, a class file
// that can't be parsed, or a folder without a single class file throws
// FileError naming that path (inside a jar: "app.jar!/app/Main.class") and the
// reason. Module and package descriptors are not classes and are skipped, as
// the runtime skips them.
//
// Thread-safety: plain functions.
#ifndef CCOVER_TOOLS_SNP_CLASS_FILES_H_
#define CCOVER_TOOLS_SNP_CLASS_FILES_H_

#include <stdint.h>

#include <string>
#include <vector>

struct ClassFileMethod {
  std::string name;
  std::string descriptor;
  uint16_t accessFlags = 0;
  std::vector<int32_t> lines;  // source line of each line slot
  // Why the compiler made it (compiler_code.h), or nullptr.
  const char* compilerMade = nullptr;
};

struct ClassFileClass {
  std::string origin;  // where it was read, for messages
  std::string name;    // VM form, as the snapshot holds it (modified UTF-8)
  bool hasSourceFile = false;
  std::string sourceFile;
  uint16_t accessFlags = 0;
  // Kotlin: the first line number given to inlined code (0: none); lines
  // from it on lie past the end of the source file (compiler_code.h).
  int32_t firstInlinedLine = 0;
  std::vector<ClassFileMethod> methods;
  bool isInterface() const { return (accessFlags & 0x0200) != 0; }
};

// Every class under the paths, in path order; within a folder in name order.
std::vector<ClassFileClass> readClassPaths(const std::vector<std::string>& paths);

// One class file's bytes (the fuzz target's entry point as well). False, with
// the reason, when they are not a class the runtime would describe; *skipped
// is set for module and package descriptors.
bool describeClassFile(const uint8_t* data, size_t size, ClassFileClass* out, bool* skipped,
                       std::string* error);

// A jar's classes (the fuzz target's second entry point). Throws FileError.
void readJarBytes(const std::string& origin, const uint8_t* data, size_t size,
                  std::vector<ClassFileClass>* out);

#endif  // CCOVER_TOOLS_SNP_CLASS_FILES_H_
