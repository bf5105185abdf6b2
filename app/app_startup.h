// AppState at start-up, as the entry prepares it before the window opens.
#pragma once
#include "app/app_state.h"
#include "app/command_line.h"

// The job idle, the instance kept, slot 0, "MEGA AUTO", no command, no file;
// every other field at its initial value too.
void PrepareAppState(AppState& app, void* instance);

// Takes over what an accepted command line set: chip, mode, operation, path.
void AdoptCommandLine(AppState& app, const CommandLine& command);
