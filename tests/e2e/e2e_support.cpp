#include "tests/e2e/e2e_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <random>
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

// A new folder named prefix-XXXXXX inside parent; "" when none could be made.
std::string makeUniqueDir(const std::string& parent, const char* prefix) {
  static std::mt19937 random{std::random_device{}()};
  static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; attempt++) {
    std::string name = std::string(prefix) + "-";
    for (int i = 0; i < 6; i++) name += kDigits[random() % (sizeof kDigits - 1)];
    std::error_code error;
    std::filesystem::path path = std::filesystem::path(parent) / name;
    if (std::filesystem::create_directory(path, error)) return path.string();
    if (error) return std::string();
  }
  return std::string();
}

// One folder per test process holds every run's folder. It is removed when
// every test passed, and kept (its path printed) for a look otherwise.
class TempRoot : public ::testing::Environment {
 public:
  const std::string& path() {
    if (path_.empty()) {
      std::error_code error;
      path_ = makeUniqueDir(std::filesystem::temp_directory_path(error).string(), "cci-e2e");
    }
    return path_;
  }

  void TearDown() override {
    if (path_.empty()) return;
    if (::testing::UnitTest::GetInstance()->Passed()) {
      std::error_code error;
      std::filesystem::remove_all(path_, error);
    } else {
      fprintf(stderr, "end-to-end runs kept in %s\n", path_.c_str());
    }
  }

 private:
  std::string path_;
};

TempRoot* tempRoot = static_cast<TempRoot*>(::testing::AddGlobalTestEnvironment(new TempRoot()));

}  // namespace

std::string makeTempDir(const char* prefix) { return makeUniqueDir(tempRoot->path(), prefix); }

bool compileClass(const std::string& dir, const std::string& name, const std::string& source) {
  std::ofstream(dir + "/" + name + ".java") << source;
  std::vector<std::string> argv = {CCI_E2E_JAVAC, "--release", "11",
                                   "-d",          dir,         dir + "/" + name + ".java"};
  ProcessResult r = runProcess(argv, dir);
  EXPECT_EQ(r.exitCode, 0) << describeProcess(argv, r);
  return r.exitCode == 0;
}

std::vector<std::string> filesEndingWith(const std::string& dir, const char* suffix) {
  std::vector<std::string> found;
  size_t suffixLength = strlen(suffix);
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    std::string name = entry.path().filename().string();
    if (name.size() >= suffixLength &&
        name.compare(name.size() - suffixLength, suffixLength, suffix) == 0) {
      found.push_back((std::filesystem::path(dir) / name).string());
    }
  }
  return found;
}

CoverageRun runCovered(StartMode mode, const std::string& mainClass, const std::string& classPath,
                       const std::string& agentOptions, const std::vector<std::string>& programArgs,
                       const std::vector<std::string>& javaCommand) {
  CoverageRun run;
  run.dir = makeTempDir("cci-e2e");
  std::vector<std::string> env;
  run.argv = javaCommand.empty() ? std::vector<std::string>{javaPath()} : javaCommand;
  run.argv.insert(run.argv.end(), {"-Xcheck:jni", "-Xverify:all"});
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
