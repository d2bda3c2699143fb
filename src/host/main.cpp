// Entry point: the service and its administration tool in one executable.
#include "host/commandline.h"

int wmain(int argc, wchar_t** argv) { return riz::runCommandLine(argc, argv); }
