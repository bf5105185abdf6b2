// The command-line tool's console: UTF-8 text that shows correctly in a
// Windows console as well as on a terminal elsewhere, and Ctrl+C.
#pragma once
#include <atomic>

enum class ConsoleStream { Out, Err };

bool StreamIsTerminal(ConsoleStream stream);
// Writes UTF-8 text as it stands (no newline added), of any length.
void WriteConsoleText(ConsoleStream stream, const char* utf8);

// From now on the first Ctrl+C sets *stopRequest (a job stops between pages);
// the second ends the process at once with exit code 130, whatever the
// program is waiting for, and prints nothing more.
void WatchInterrupts(std::atomic<int>* stopRequest);
constexpr int kExitInterrupted = 130;
