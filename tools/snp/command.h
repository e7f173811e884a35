// What every snp command shares with the command line: its CLI11 subcommand
// with the function that runs it once parsed, and the failure that names a file.
// A command added in its own file returns an SnpCommand and gets one line in
// runSnp's table (tools/snp/cli.cpp).
#ifndef CCOVER_TOOLS_SNP_COMMAND_H_
#define CCOVER_TOOLS_SNP_COMMAND_H_

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

struct SnpCommand {
  CLI::App* app;              // the subcommand, added to snp's app
  std::function<void()> run;  // called when app was parsed; throws on failure
};

// A failure that names the file it concerns: "snp: <file>: <what>".
struct FileError {
  std::string file;
  std::string what;
};

#endif  // CCOVER_TOOLS_SNP_COMMAND_H_
