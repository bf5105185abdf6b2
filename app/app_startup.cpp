#include "app/app_startup.h"

#include <cstdio>

void PrepareAppState(AppState& app, void* instance) {
  app.instance = instance;
  app.mainWindow = nullptr;
  app.systemMenu = nullptr;
  app.progressBar = nullptr;
  app.bridge = ClosedBridge();
  app.engine.deviceIndex.store(0);
  app.engine.chipIndex.store(kChipAuto);
  app.engine.fastSpi.store(0);
  app.engine.hardwareSpi.store(0);
  app.engine.stopRequest.store(0);
  app.engine.progressRange = ProgressRange{};
  app.filePath[0] = '\0';
  app.fileChosen = 0;
  app.eepromTarget = 0;
  app.jobHandle.store(kJobIdle);
  app.commandLineMode = 0;
  app.commandOp = 0;
  app.closeRequested = 0;
}

void AdoptCommandLine(AppState& app, const CommandLine& command) {
  app.engine.chipIndex.store(command.chipIndex);
  app.commandLineMode = command.commandLineMode;
  app.commandOp = command.commandOp;
  app.fileChosen = command.fileChosen;
  std::snprintf(app.filePath, sizeof app.filePath, "%s", command.filePath);
}
