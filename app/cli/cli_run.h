// The command-line tool as a whole, for the platform entries: the arguments
// arrive as UTF-8 (on Windows converted from the UTF-16 command line).
#pragma once

// Returns the process exit code. Never throws.
int RunCli(int argc, const char* const* argvUtf8);
