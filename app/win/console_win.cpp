// A Windows console gets wide text, so the Chinese texts show whatever its
// code page; redirected output stays UTF-8.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/console.h"

namespace {

std::atomic<int>* g_stopRequest = nullptr;
std::atomic<int> g_interrupts{0};

HANDLE StreamHandle(ConsoleStream stream) {
  return GetStdHandle(stream == ConsoleStream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

// Runs on a thread of its own, so it works while the main thread waits in a
// bridge call that never returns.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (g_interrupts.fetch_add(1) > 0) ExitProcess(kExitInterrupted);
  if (g_stopRequest) g_stopRequest->store(1);
  return TRUE;
}

}  // namespace

bool StreamIsTerminal(ConsoleStream stream) {
  DWORD mode = 0;
  return GetConsoleMode(StreamHandle(stream), &mode) != 0;
}

void WriteConsoleText(ConsoleStream stream, const char* utf8) {
  HANDLE handle = StreamHandle(stream);
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (n <= 1) return;
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &wide[0], n);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), DWORD(n - 1), &written, nullptr);
    return;
  }
  FILE* file = stream == ConsoleStream::Out ? stdout : stderr;
  std::fputs(utf8, file);
  std::fflush(file);
}

void WatchInterrupts(std::atomic<int>* stopRequest) {
  g_stopRequest = stopRequest;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}
