// Status-line texts that more than one operation shows.
#pragma once
#include "engine/chip_catalog.h"

// The text for a failed identification, or null for success (the operation goes on).
const char* IdentifyFailureText(ResultCode result);

// The text after a writer returned `result`, or null when the last text stays
// (result 1: the programming or verification text remains). `successText` is
// used for 0.
const char* WriteOutcomeText(ResultCode result, const char* successText);

constexpr const char* kTextTransferFailed = "数据传输失败";
constexpr const char* kTextIdentifying = "正在识别MCU型号...";
constexpr const char* kTextResetting = "正在复位芯片...";
constexpr const char* kTextResetOk = "复位MCU成功";
