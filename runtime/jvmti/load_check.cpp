#include "runtime/jvmti/load_check.h"

#include <ctype.h>

#include "platform/platform.h"
#include "support/modified_utf8.h"

namespace cci_jvmti {
namespace {

std::string joinPath(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

bool exists(const std::string& path) { return platform::fileExists(path.c_str()); }

}  // namespace

const char* const kHomeJars[1] = {"cci.jar"};

JavaSidePaths javaSidePaths(const Options& options, const std::string& home) {
  JavaSidePaths paths;
  paths.ccoverJar = options.ccoverJar;
  if (paths.ccoverJar.empty()) {
    std::string beside = joinPath(home, "ccover.jar");
    std::string built = joinPath(home, "../java/ccover.jar");
    paths.ccoverJar = exists(beside) || !exists(built) ? beside : built;
  }
  paths.ccoverLib = options.ccoverLib;
  if (paths.ccoverLib.empty()) {
    std::string library = platform::libraryFileName("ccover");
    paths.ccoverLib = exists(joinPath(home, library)) ? home : joinPath(home, "../bin");
  }
  return paths;
}

std::string missingRuntimeFile(const Options& options, const std::string& home, bool launcherMode) {
  for (const char* jar : kHomeJars) {
    std::string path = joinPath(home, jar);
    if (exists(path)) continue;
    if (!options.home.empty()) {
      return "home=" + options.home + " holds no " + jar + " (" + path +
             "): name the folder of cci.jar";
    }
    return "no " + std::string(jar) + " beside the runtime (" + path +
           "): name its folder with home=DIR";
  }
  if (launcherMode || !options.autoStart) return "";
  JavaSidePaths paths = javaSidePaths(options, home);
  if (!exists(paths.ccoverJar)) {
    if (!options.ccoverJar.empty()) return "ccoverJar=" + options.ccoverJar + ": no such file";
    return "no ccover.jar beside the runtime (" + paths.ccoverJar +
           "): name it with ccoverJar=FILE";
  }
  std::string library = platform::libraryFileName("ccover");
  std::string libraryPath = joinPath(paths.ccoverLib, library);
  if (!exists(libraryPath)) {
    if (!options.ccoverLib.empty()) {
      return "ccoverLib=" + options.ccoverLib + " holds no " + library;
    }
    return "no " + library + " beside the runtime (" + libraryPath +
           "): name its folder with ccoverLib=DIR";
  }
  return "";
}

namespace {

bool isAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Codeset names compared as glibc and the JVM spell them, ignoring case and
// punctuation: "UTF-8", "utf8"; "ANSI_X3.4-1968", "US-ASCII".
std::string squeezed(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (isalnum(static_cast<unsigned char>(c)) != 0) {
      out += static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
  }
  return out;
}

}  // namespace

bool codesetCanName(const std::string& codeset, const std::string& text) {
  if (isAscii(text) || codeset.empty()) return true;
  std::string name = squeezed(codeset);
  if (name == "utf8") return mutf8::isWellFormedUtf8(text.data(), text.size());
  return name != "ansix341968" && name != "ascii" && name != "usascii" && name != "646";
}

std::string unreadableJavaSidePath(const Options& options, const std::string& home,
                                   bool launcherMode, const std::string& codeset) {
  if (launcherMode || !options.autoStart) return "";
  JavaSidePaths paths = javaSidePaths(options, home);
  for (const std::string* path : {&paths.ccoverJar, &paths.ccoverLib}) {
    if (codesetCanName(codeset, *path)) continue;
    return "the path " + *path +
           " holds characters that the JVM can't read in this locale's encoding (" + codeset +
           "), so it would find no coverage agent there: run with a UTF-8 locale (e.g. "
           "LC_ALL=C.UTF-8), or install ccover under a path of ASCII characters";
  }
  return "";
}

std::string noSnapshotWarning(const Options& options, bool launcherMode) {
  if (launcherMode || !options.autoStart || options.snapshotAtExit || options.live ||
      !options.destfile.empty()) {
    return "";
  }
  return "warning: no coverage snapshot will be written; add snapshotAtExit or destfile=PATH to "
         "the options (or nostart when a host starts the agent)";
}

}  // namespace cci_jvmti
