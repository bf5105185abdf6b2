// Status-line texts that more than one operation shows.
#pragma once
#include "engine/chip_catalog.h"

// The text for a failed identification, or null for success (the operation goes on).
const char* IdentifyFailureText(ResultCode result);

// The text after a writer returned `result`; `successText` for 0. Every
// result has a final text: a failed bridge call must not leave the stage text
// standing, as if the half-written chip were still being programmed.
const char* WriteOutcomeText(ResultCode result, const char* successText);

constexpr const char* kTextTransferFailed = "数据传输失败";
constexpr const char* kTextIdentifying = "正在识别MCU型号...";
constexpr const char* kTextResetting = "正在复位芯片...";
constexpr const char* kTextResetOk = "复位MCU成功";
