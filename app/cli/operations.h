// What the tool does for each form of its command line. Each fills the
// report (exit code, step, bytes, crc32 ...) and shows its status texts
// through the view; none prints the summary, failure or JSON line.
#pragma once
#include "app/cli/cli_options.h"
#include "app/cli/cli_view.h"
#include "app/cli/report.h"

enum CliExit {
  kCliExitOk = 0,
  kCliExitUsage = 2,
  kCliExitNoBridge = 3,
  kCliExitIdentify = 4,
  kCliExitFile = 5,
  kCliExitHex = 6,
  kCliExitTransfer = 7,  // transfer, writing or verification failed, or stopped
  kCliExitReset = 8,
  kCliExitGuard = 9,     // configuration write refused by the hazard guard
  kCliExitProtected = 10,
  kCliExitInternal = 1,  // out of memory: never expected
};

// CHIP OP [ARG...] on one bridge: --slot's, or the first that opens.
void RunChipOperation(const CliOptions& options, CliView& view, RunReport& report);

// --list: every present bridge, opened without exclusive use and closed at
// once; a slot another program holds is listed as busy.
void RunList(CliView& view, RunReport& report);

// --check FILE: the file decoded as a job would, no bridge opened.
void RunCheck(const CliOptions& options, CliView& view, RunReport& report);
