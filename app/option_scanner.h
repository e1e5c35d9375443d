// The program's own option scanner, with the POSIX getopt semantics the program's messages rely on: it stops
// at the first non-option element (no reordering), "--" ends the options, and its diagnostics carry no line
// end so that the caller's own message continues the line.
#pragma once

namespace options {

extern int optind;    // index of the next element of the argument vector; starts at 1
extern char* optarg;  // argument of the option just returned, or null
extern int optopt;    // the option character last examined
extern int opterr;    // non-zero: diagnostics are written to standard error

// Returns the next option character, '?' for an error, or -1 when the options are exhausted.
int getopt(int argc, char* const argv[], const char* optionString);

// Starts a new scan (for tests: the program scans once).
void resetScanner();

}  // namespace options
