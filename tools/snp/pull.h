// snp pull URL -o FILE: asks a program running under coverage with the live
// viewer (runtime option live) for a snapshot, and writes it. The snapshot is
// checked to decode before FILE is written: a refused request, a cut
// connection or an answer that is not a snapshot writes nothing. FILE is
// written as every snp output is (OutputFile): "-" is standard output.
//
// Thread-safety: runs on the command line's thread.
#ifndef CCOVER_TOOLS_SNP_PULL_H_
#define CCOVER_TOOLS_SNP_PULL_H_

#include <CLI/CLI.hpp>
#include <string>

struct PullCommand {
  CLI::App* command = nullptr;
  std::string url;
  std::string output;
  unsigned timeoutSeconds = 60;
};

// Declares the subcommand and its options on app; the result must outlive the parse.
void addPullCommand(CLI::App& app, PullCommand* pull);
// Runs it; throws SnpError ("URL: why") on any failure.
void runPull(const PullCommand& pull);

#endif  // CCOVER_TOOLS_SNP_PULL_H_
