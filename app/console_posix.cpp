#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "app/console.h"

namespace {

std::atomic<int>* g_stopRequest = nullptr;
volatile std::sig_atomic_t g_interrupts = 0;

extern "C" void OnInterrupt(int) {
  if (g_interrupts++ > 0) _exit(kExitInterrupted);  // async-signal-safe, and skips stdio: no JSON line
  if (g_stopRequest) g_stopRequest->store(1);
}

FILE* StreamFile(ConsoleStream stream) { return stream == ConsoleStream::Out ? stdout : stderr; }

}  // namespace

bool StreamIsTerminal(ConsoleStream stream) { return isatty(fileno(StreamFile(stream))) != 0; }

void WriteConsoleText(ConsoleStream stream, const char* utf8) {
  std::fputs(utf8, StreamFile(stream));
  std::fflush(StreamFile(stream));
}

void WatchInterrupts(std::atomic<int>* stopRequest) {
  g_stopRequest = stopRequest;
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}
