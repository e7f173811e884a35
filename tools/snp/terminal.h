// The one question snp asks of the terminal, answered per system in
// terminal_posix.cpp and terminal_windows.cpp.
#ifndef CCOVER_TOOLS_SNP_TERMINAL_H_
#define CCOVER_TOOLS_SNP_TERMINAL_H_

// True when standard output is a terminal that shows ANSI colours (on Windows
// after switching the console to them). NO_COLOR set, or TERM=dumb: false.
bool stdoutTakesColour();

#endif  // CCOVER_TOOLS_SNP_TERMINAL_H_
