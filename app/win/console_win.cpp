// A Windows console gets wide text, so the Chinese texts show whatever its
// code page; redirected output stays UTF-8.
#include <windows.h>

#include <cstdio>

#include "app/console.h"

bool OutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void WriteConsoleText(const char* utf8) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    wchar_t wide[1024];
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 1024);
    DWORD written = 0;
    if (n > 1) WriteConsoleW(out, wide, DWORD(n - 1), &written, nullptr);
    return;
  }
  std::fputs(utf8, stdout);
  std::fflush(stdout);
}
