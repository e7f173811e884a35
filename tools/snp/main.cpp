#include "tools/snp/cli.h"

int main(int argc, char** argv) { return runSnp(argc, argv); }
