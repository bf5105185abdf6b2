#include "app/cli/cli_run.h"

#include <chrono>
#include <new>

#include "app/cli/cli_options.h"
#include "app/cli/operations.h"
#include "app/console.h"

namespace {

int Run(int argc, const char* const* argv) {
  const auto start = std::chrono::steady_clock::now();
  CliOptions options;
  std::string problem;
  const bool parsed = ParseCliArguments(argc, argv, &options, &problem);
  // With --json standard output carries the JSON line alone.
  const ConsoleStream text = options.json ? ConsoleStream::Err : ConsoleStream::Out;
  CliView view(text);
  RunReport report;
  if (options.form != CliForm::Check) report.op = parsed && options.form == CliForm::Operation ? CliOpLetters(options.op) : nullptr;
  report.runRequested = options.run;

  if (!parsed) {
    report.form = ReportForm::Usage;
    report.exit = kCliExitUsage;
    report.step = "usage";
    report.detail = problem;
    WriteConsoleText(ConsoleStream::Err, ("mcufeed-cli: " + problem + "\n").c_str());
    WriteConsoleText(ConsoleStream::Err, CliUsageText());
  } else if (options.form == CliForm::Help) {
    WriteConsoleText(text, CliUsageText());
  } else {
    if (!options.path.empty()) {
      report.hasFile = true;
      report.file = options.path;
    }
    switch (options.form) {
      case CliForm::List:
        report.form = ReportForm::List;
        RunList(view, report);
        break;
      case CliForm::Check:
        report.form = ReportForm::Check;
        RunCheck(options, view, report);
        break;
      default:
        RunChipOperation(options, view, report);
        break;
    }
    report.status = view.lastStatus();
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (report.exit == kCliExitOk && options.form != CliForm::List) view.ShowLine(SummaryLine(report));
    if (report.exit != kCliExitOk) WriteConsoleText(ConsoleStream::Err, (FailureLine(report) + "\n").c_str());
  }
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (options.json) WriteConsoleText(ConsoleStream::Out, (JsonLine(report) + "\n").c_str());
  return report.exit;
}

}  // namespace

int RunCli(int argc, const char* const* argvUtf8) {
  try {
    return Run(argc, argvUtf8);
  } catch (...) {
    // Only memory exhaustion can throw here; it must still end in a plain exit.
    WriteConsoleText(ConsoleStream::Err, "mcufeed-cli: out of memory\n");
    return kCliExitInternal;
  }
}
