// The command-line tool's console: UTF-8 text that shows correctly in a
// Windows console as well as on a terminal elsewhere.
#pragma once

bool OutputIsTerminal();
// Writes UTF-8 text to standard output as it stands (no newline added).
void WriteConsoleText(const char* utf8);
