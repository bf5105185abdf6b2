// Prints what whole jobs cost: modelled bridge time (the simulator's clock),
// bridge calls, bytes sent and host CPU time, for full-flash and full-EEPROM
// jobs and full-flash reads; and the HEX decoder's throughput on a maximal
// file. Not a test: the figures are for reading, not for asserting.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "app/cli/operations.h"
#include "engine/identify.h"
#include "engine/readers.h"
#include "engine/writers.h"
#include "image/intel_hex.h"
#include "link/bridge.h"
#include "sim/kq560sim.h"

namespace {

void VirtualWait(uint32_t ms) { KQ560SimAdvanceMs(ms); }

class SilentView : public JobView {
 public:
  ProgressRange QueryProgressRange() override { return {0, 1024}; }
  void SetProgress(int32_t) override {}
  void AdvanceProgress(int32_t) override {}
  void ShowStatus(const char*) override {}
};

std::vector<uint8_t> Noise(uint32_t size) {
  std::vector<uint8_t> image(0x100000, 0xFF);
  uint32_t x = 12345;
  for (uint32_t i = 0; i < size; ++i) image[i] = uint8_t((x = x * 1103515245u + 12345u) >> 16);
  return image;
}

enum class Op { WriteFlash, WriteEeprom, ReadFlash };

void Job(const char* label, const char* chip, ChipIndex index, int fast, Op op) {
  KQ560SimReset();
  KQ560SimAttach(0, chip);
  BridgeState bridge = ClosedBridge();
  OpenBridge(0, &bridge);
  EngineState state;
  state.deviceIndex = 0;
  state.hardwareSpi = bridge.hardwareSpi ? 1 : 0;
  state.chipIndex = index;
  state.fastSpi = fast;
  SilentView view;
  const ChipInfo* info = FindChip(index);
  const uint32_t length = op == Op::WriteEeprom ? info->eepromLimit : info->flashLimit;
  std::vector<uint8_t> image = Noise(length);
  if (op == Op::ReadFlash) KQ560SimWriteMemory(0, KQ560SIM_FLASH, 0, image.data(), length);

  KQ560SimStats before, after;
  KQ560SimGetStats(&before);
  const std::clock_t cpu = std::clock();
  ResultCode result = IdentifyTarget(state);
  std::vector<uint8_t> read(length);
  if (result == kResultOk) {
    switch (op) {
      case Op::WriteFlash: result = WriteFlash(state, view, image.data(), length); break;
      case Op::WriteEeprom: result = WriteEeprom(state, view, image.data(), length); break;
      case Op::ReadFlash:
        result = ReadFlash(state, view, read.data(), length);
        if (read != std::vector<uint8_t>(image.begin(), image.begin() + length)) result = kResultVerifyFailed;
        break;
    }
  }
  const double cpuSeconds = double(std::clock() - cpu) / CLOCKS_PER_SEC;
  KQ560SimGetStats(&after);
  std::printf("| %-30s | %7u | %9.1f | %8llu | %10llu | %7.2f | %s\n", label, length,
              double(after.nowUs - before.nowUs) / 1e6, (unsigned long long)(after.calls - before.calls),
              (unsigned long long)(after.bytesSent - before.bytesSent), cpuSeconds,
              result == kResultOk ? "ok |" : "FAILED |");
}

// A 1 MiB HEX text: 32-byte data records over the whole image, with linear
// address records at each 64 KiB, and the end record.
std::string MaximalHex() {
  std::string text;
  char line[96];
  for (uint32_t address = 0; text.size() < 0x100000 - 200; address += 32) {
    if ((address & 0xFFFF) == 0) {
      const uint32_t upper = address >> 16;
      const int sum = 2 + 4 + int(upper >> 8) + int(upper & 0xFF);
      std::snprintf(line, sizeof line, ":02000004%04X%02X\r\n", upper, (0x100 - (sum & 0xFF)) & 0xFF);
      text += line;
    }
    int n = std::snprintf(line, sizeof line, ":20%04X00", address & 0xFFFF);
    int sum = 0x20 + int((address >> 8) & 0xFF) + int(address & 0xFF);
    for (int i = 0; i < 32; ++i) {
      const int b = int((address + uint32_t(i)) * 7 & 0xFF);
      n += std::snprintf(line + n, sizeof line - n, "%02X", b);
      sum += b;
    }
    std::snprintf(line + n, sizeof line - n, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    if (text.size() + std::string(line).size() + 13 > 0x100000) break;
    text += line;
  }
  text += ":00000001FF\r\n";
  return text;
}

}  // namespace

int main() {
  SetWaitRoutine(&VirtualWait);
  std::printf("| job | bytes | bridge time (s) | bridge calls | bytes sent | host CPU (s) | result |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  Job("MEGA8 flash, bit-banged", "MEGA8", 1, 0, Op::WriteFlash);
  Job("MEGA128 flash, bit-banged", "MEGA128", 5, 0, Op::WriteFlash);
  Job("MEGA128 flash, fast", "MEGA128", 5, 1, Op::WriteFlash);
  Job("AT89S52 flash", "AT89S52", 12, 0, Op::WriteFlash);
  Job("MEGA128 EEPROM, bit-banged", "MEGA128", 5, 0, Op::WriteEeprom);
  Job("MEGA128 flash read, bit-banged", "MEGA128", 5, 0, Op::ReadFlash);
  Job("MEGA128 flash read, fast", "MEGA128", 5, 1, Op::ReadFlash);

  const std::string hex = MaximalHex();
  std::vector<uint8_t> image(kImageSize);
  uint32_t effective = 0;
  const int rounds = 20;
  int ok = 1;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i)
    ok &= DecodeIntelHex(reinterpret_cast<const uint8_t*>(hex.data()), uint32_t(hex.size()), image.data(), &effective);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("\nHEX decoder: %zu-byte file (%u-byte image) in %.2f ms, %.0f MB/s of text%s\n", hex.size(),
              effective, seconds / rounds * 1e3, hex.size() * rounds / seconds / 1e6, ok ? "" : " (FAILED)");

  // The same text as a file, through mcufeed-cli --check: read, decoded as a
  // job would, and its CRC-32 taken.
  const char* path = "mcufeed-bench-check.hex";
  if (FILE* file = std::fopen(path, "wb")) {
    ok &= std::fwrite(hex.data(), 1, hex.size(), file) == hex.size();
    ok &= std::fclose(file) == 0;
  }
  CliOptions check;
  check.form = CliForm::Check;
  check.path = path;
  CliView view(ConsoleStream::Err);
  RunReport report;
  const auto checkStart = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) {
    report = RunReport();
    RunCheck(check, view, report);
    ok &= report.exit == 0;
  }
  const double checkSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - checkStart).count();
  std::remove(path);
  std::printf("mcufeed-cli --check: the same file read, decoded and CRC-32 in %.2f ms (%u bytes, crc32 %08x)%s\n",
              checkSeconds / rounds * 1e3, unsigned(report.bytes), unsigned(report.crc32), ok ? "" : " (FAILED)");
  return ok ? 0 : 1;
}
