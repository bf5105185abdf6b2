#include <unistd.h>

#include <cstdio>

#include "app/console.h"

bool OutputIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

void WriteConsoleText(const char* utf8) {
  std::fputs(utf8, stdout);
  std::fflush(stdout);
}
