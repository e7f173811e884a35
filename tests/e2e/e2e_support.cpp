#include "tests/e2e/e2e_support.h"

#include <dirent.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "gtest/gtest.h"

namespace e2e {

std::string javaPath() { return CCI_E2E_JAVA; }
std::string runtimeDir() { return CCI_E2E_RUNTIME_DIR; }
std::string runtimeLibrary() { return runtimeDir() + "/libcci.so"; }
std::string agentDir() { return CCI_E2E_AGENT_DIR; }
std::string ccoverJar() { return CCI_E2E_CCOVER_JAR; }
std::string samplesJar() { return CCI_E2E_SAMPLES_JAR; }
std::string sourceDir() { return CCI_E2E_SOURCE_DIR; }

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

// One folder per test process holds every run's folder. It is removed when
// every test passed, and kept (its path printed) for a look otherwise.
class TempRoot : public ::testing::Environment {
 public:
  const std::string& path() {
    if (path_.empty()) {
      const char* base = getenv("TMPDIR");
      std::string pattern =
          std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/cci-e2e-XXXXXX";
      std::vector<char> buffer(pattern.begin(), pattern.end());
      buffer.push_back('\0');
      if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
    }
    return path_;
  }

  void TearDown() override {
    if (path_.empty()) return;
    if (::testing::UnitTest::GetInstance()->Passed()) {
      nftw(path_.c_str(), &removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    } else {
      fprintf(stderr, "end-to-end runs kept in %s\n", path_.c_str());
    }
  }

 private:
  std::string path_;
};

TempRoot* tempRoot = static_cast<TempRoot*>(::testing::AddGlobalTestEnvironment(new TempRoot()));

}  // namespace

std::string makeTempDir(const char* prefix) {
  std::string pattern = tempRoot->path() + "/" + prefix + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  return mkdtemp(buffer.data()) != nullptr ? std::string(buffer.data()) : std::string();
}

std::vector<std::string> filesEndingWith(const std::string& dir, const char* suffix) {
  std::vector<std::string> found;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return found;
  size_t suffixLength = strlen(suffix);
  while (dirent* e = readdir(d)) {
    std::string name(e->d_name);
    if (name.size() >= suffixLength &&
        name.compare(name.size() - suffixLength, suffixLength, suffix) == 0) {
      found.push_back(dir + "/" + name);
    }
  }
  closedir(d);
  return found;
}

CoverageRun runCovered(StartMode mode, const std::string& mainClass, const std::string& classPath,
                       const std::string& agentOptions,
                       const std::vector<std::string>& programArgs) {
  CoverageRun run;
  run.dir = makeTempDir("cci-e2e");
  std::vector<std::string> env;
  run.argv = {javaPath(), "-Xcheck:jni", "-Xverify:all"};
  if (mode == StartMode::kAgentPath) {
    std::string options = "snapshotAtExit";
    if (!agentOptions.empty()) options += "," + agentOptions;
    run.argv.push_back("-agentpath:" + runtimeLibrary() + "=" + options);
    run.argv.insert(run.argv.end(), {"-cp", classPath, mainClass});
  } else {
    run.argv.push_back(agentOptions.empty() ? "-Xruncci" : "-Xruncci:" + agentOptions);
    run.argv.insert(run.argv.end(),
                    {"-cp", ccoverJar() + ":" + classPath, "quorvatix.audit.CoverMain", mainClass});
    env.push_back("LD_LIBRARY_PATH=" + runtimeDir() + ":" + agentDir());
  }
  run.argv.insert(run.argv.end(), programArgs.begin(), programArgs.end());
  run.process = runProcess(run.argv, run.dir, env);
  run.snapshots = filesEndingWith(run.dir, ".snp");
  return run;
}

std::string describe(const CoverageRun& run) {
  std::string text = describeProcess(run.argv, run.process) + "folder: " + run.dir + "\n";
  for (const std::string& s : run.snapshots) text += "snapshot: " + s + "\n";
  return text;
}

std::vector<std::string> complaints(const ProcessResult& process) {
  static const char* const kBad[] = {"WARNING", "FATAL", "VerifyError", "Exception in",
                                     "cci:",    "CC_C",  "CCJNI",       "Quillmetry Error"};
  std::vector<std::string> found;
  for (const std::string* stream : {&process.out, &process.err}) {
    std::istringstream lines(*stream);
    std::string line;
    while (std::getline(lines, line)) {
      for (const char* bad : kBad) {
        if (line.find(bad) != std::string::npos) {
          found.push_back(line);
          break;
        }
      }
    }
  }
  return found;
}

void parseMarks(const std::string& out, std::vector<LineMark>* lines,
                std::vector<EntryMark>* entries) {
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string kind;
    words >> kind;
    if (kind == "line") {
      LineMark m;
      if (words >> m.className >> m.line >> m.count) lines->push_back(m);
    } else if (kind == "entry") {
      EntryMark m;
      if (words >> m.className >> m.method >> m.signature >> m.count) entries->push_back(m);
    }
  }
}

int sourceLine(const std::string& file, const std::string& text) {
  std::ifstream in(sourceDir() + "/samples/src/sample/" + file);
  std::string line;
  for (int number = 1; std::getline(in, line); number++) {
    if (line.find(text) != std::string::npos) return number;
  }
  return -1;
}

}  // namespace e2e
