// What the AVR and AT89S5x configuration logic share: the outcome of a
// checked write and the texts both dialogs show.
#pragma once
#include <cstdint>

enum class ConfigWriteStatus : uint8_t {
  Ok,              // written, and every checked bit read back as written
  TransferFailed,  // a write transfer failed; the earlier writes stay in the chip
  ReadBackFailed,  // written, but a read-back transfer failed
  Mismatch,        // the chip holds something other than what was written
};

enum class MessageIcon : uint8_t { Information, Exclamation };

// A message box of a dialog: `format` may hold one %s, the chip's list text.
struct ConfigMessage {
  const char* format;
  MessageIcon icon;
};

// Texts of both configuration dialogs; %s is the chip's list text.
constexpr const char* kConfigTitleFormat = "%s 加密设置及配置";
constexpr const char* kConfigReadOkFormat = "%s读配置成功!";
constexpr const char* kConfigMismatchFormat = "%s写配置失败:读回的配置与写入的不同";
constexpr const char* kTransferFailedText = "数据传输失败";
