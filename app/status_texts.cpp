#include "app/status_texts.h"

const char* IdentifyFailureText(ResultCode result) {
  switch (result) {
    case kResultTransferFailed: return kTextTransferFailed;
    case kResultNotRecognised: return "无法识别此MCU";
    case kResultWrongChip: return "错误的MCU型号";
    case kResultUnsupported: return "不支持此MCU";
    default: return nullptr;
  }
}

const char* WriteOutcomeText(ResultCode result, const char* successText) {
  switch (result) {
    case kResultOk: return successText;
    case kResultTransferFailed: return kTextTransferFailed;
    case kResultStopped: return "用户终止";
    case kResultTooLong: return "下载文件有效长度超出芯片容量";
    case kResultVerifyFailed: return "数据校验错误,请重新下载";
    default: return "未知错误";
  }
}
