#include "app/win/config_dialogs.h"

#include <cstdio>
#include <initializer_list>

#include "app/win/main_window.h"
#include "app/win/placement.h"
#include "app/win/win_text.h"
#include "engine/at89_config.h"
#include "engine/avr_config.h"
#include "resources/resource.h"

namespace {

// The dialog's check boxes as the fuse and lock logic sees them.
class DialogBoxes : public ConfigBoxes {
 public:
  explicit DialogBoxes(HWND dialog) : dialog_(dialog) {}
  bool IsChecked(int controlId) override { return IsDlgButtonChecked(dialog_, controlId) == BST_CHECKED; }
  void SetChecked(int controlId, bool checked) override {
    CheckDlgButton(dialog_, controlId, checked ? BST_CHECKED : BST_UNCHECKED);
  }

 private:
  HWND dialog_;
};

// Both dialogs read the chip and the slot afresh for every step.
ChipIndex SelectedChip() { return g_app.engine.chipIndex.load(); }
uint32_t Device() { return g_app.engine.deviceIndex.load(); }

void ShowChipMessage(HWND dialog, const char* format, const char* chipName) {
  char text[128];
  std::snprintf(text, sizeof text, format, chipName);
  ShowMessage(dialog, text, MB_OK | MB_ICONINFORMATION);
}

void SetChipTitle(HWND dialog, const char* chipName) {
  char title[128];
  std::snprintf(title, sizeof title, kConfigTitleFormat, chipName);
  SetWindowTextUtf8(dialog, title);
}

void EndConfigDialog(HWND dialog) { EndDialog(dialog, 0); }

// ---- AVR fuse and lock bits ----

void AvrInitialise(HWND dialog) {
  const ChipIndex chip = SelectedChip();
  for (const ConfigBox& box : kAvrConfigBoxes) {
    if (box.byte != ConfigByte::High && box.byte != ConfigByte::Low) continue;
    if (const char* caption = AvrBoxCaption(chip, box.controlId)) SetItemTextUtf8(dialog, box.controlId, caption);
  }
  SetItemTextUtf8(dialog, IDC_EXT_BIT0, "0");
  SetItemTextUtf8(dialog, IDC_EXT_BIT1, "1");
  SetItemTextUtf8(dialog, IDC_EXT_BIT2, "2");
  for (const int id : {IDC_EXT_BIT2, IDC_EXT_BIT1, IDC_EXT_BIT0}) {
    if (AvrBoxUsed(chip, id))
      SetItemTextUtf8(dialog, id, AvrBoxCaption(chip, id));
    else
      EnableWindow(GetDlgItem(dialog, id), FALSE);
  }
  // The automatic read, before the dialog is shown: its failure box comes first.
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_READ_CONFIG, kAutomaticReadMarker), 0);
  CentreOverMainWindow(dialog);
}

void AvrRead(HWND dialog, WORD marker) {
  const ChipIndex chip = SelectedChip();
  DialogBoxes boxes(dialog);
  if (!ReadAvrConfig(Device(), chip, boxes)) {
    ShowMessage(dialog, kTransferFailedText, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (marker == kAutomaticReadMarker)
    SetChipTitle(dialog, ChipName(chip));
  else
    ShowChipMessage(dialog, kConfigReadOkFormat, ChipName(chip));
}

void AvrWrite(HWND dialog) {
  const ChipIndex chip = SelectedChip();
  DialogBoxes boxes(dialog);
  const AvrWriteOutcome outcome = WriteAvrConfig(Device(), chip, boxes);
  if (!outcome.ok) {
    const UINT icon = outcome.failureIcon == MessageIcon::Exclamation ? MB_ICONEXCLAMATION : MB_ICONINFORMATION;
    ShowMessage(dialog, kTransferFailedText, MB_OK | icon);
    return;
  }
  ShowChipMessage(dialog, kAvrConfigWriteOkFormat, ChipName(chip));
}

// ---- AT89S5x lock bits ----

const char* At89ChipName() { return ChipName(SelectedChip(), kAt89FallbackName); }

void At89Read(HWND dialog, WORD marker) {
  uint8_t lockByte = 0;
  if (!ReadAt89LockByte(Device(), &lockByte)) {
    ShowMessage(dialog, kTransferFailedText, MB_OK | MB_ICONINFORMATION);
    return;
  }
  CheckRadioButton(dialog, kAt89LockButtons[0], kAt89LockButtons[3], kAt89LockButtons[At89LockLevelFromByte(lockByte)]);
  if (marker == kAutomaticReadMarker)
    SetChipTitle(dialog, At89ChipName());
  else
    ShowChipMessage(dialog, kConfigReadOkFormat, At89ChipName());
}

void At89Write(HWND dialog) {
  int level = -1;
  for (int j = 0; j < 4 && level < 0; ++j)
    if (IsDlgButtonChecked(dialog, kAt89LockButtons[j]) == BST_CHECKED) level = j;
  // No level chosen (the automatic read failed and the user picked none):
  // nothing is sent, since any lock sequence would be a guess.
  if (level < 0) return;
  if (!WriteAt89LockLevel(Device(), level)) {
    ShowMessage(dialog, kTransferFailedText, MB_OK | MB_ICONINFORMATION);
    return;
  }
  ShowChipMessage(dialog, kAt89ConfigWriteOkFormat, At89ChipName());
}

}  // namespace

INT_PTR CALLBACK AvrConfigProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      AvrInitialise(dialog);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_READ_CONFIG: AvrRead(dialog, HIWORD(wParam)); break;
        case IDC_WRITE_CONFIG: AvrWrite(dialog); break;
        case IDC_SELECT_ALL: { DialogBoxes boxes(dialog); SetAllAvrBoxes(SelectedChip(), boxes, true); break; }
        case IDC_CLEAR_ALL: { DialogBoxes boxes(dialog); SetAllAvrBoxes(SelectedChip(), boxes, false); break; }
        case IDC_CANCEL_CONFIG: EndConfigDialog(dialog); break;
        default: break;
      }
      return TRUE;
    case WM_CLOSE:
      EndConfigDialog(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK At89ConfigProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_READ_CONFIG, kAutomaticReadMarker), 0);
      CentreOverMainWindow(dialog);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_READ_CONFIG: At89Read(dialog, HIWORD(wParam)); break;
        case IDC_WRITE_CONFIG: At89Write(dialog); break;
        case IDC_CANCEL_CONFIG: EndConfigDialog(dialog); break;
        default: break;
      }
      return TRUE;
    case WM_CLOSE:
      EndConfigDialog(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}
