// The snp command line: parses the arguments (CLI11), runs one command, and
// turns every failure into one line on standard error, "snp: <file>: <why>",
// and a nonzero exit code: 1 for a file that can't be read or written, 2 for a
// command line that can't be parsed. Exceptions never leave it.
#ifndef CCOVER_TOOLS_SNP_CLI_H_
#define CCOVER_TOOLS_SNP_CLI_H_

int runSnp(int argc, char** argv);

#endif  // CCOVER_TOOLS_SNP_CLI_H_
