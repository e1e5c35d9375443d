// CorvastrumGigeInterface: serves a Corvastrum 3D sensor as a GigE Vision camera.
#include "program.h"

int main(int argc, char* argv[]) { return runProgram(argc, argv); }
