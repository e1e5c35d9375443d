// The program's start-up sequence, idle loop and exit status.
#pragma once

// Runs the whole program with the process's arguments and returns its exit status.
int runProgram(int argc, char* argv[]);
