// mcufeed-cli on Linux and other POSIX systems: the arguments are taken as
// UTF-8, as the system hands them over.
#include "app/cli/cli_run.h"

int main(int argc, char** argv) { return RunCli(argc, argv); }
