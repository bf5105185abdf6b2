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

UINT IconStyle(MessageIcon icon) { return icon == MessageIcon::Exclamation ? MB_ICONEXCLAMATION : MB_ICONINFORMATION; }

void ShowChipMessage(HWND dialog, const char* format, const char* chipName, MessageIcon icon = MessageIcon::Information) {
  char text[128];
  std::snprintf(text, sizeof text, format, chipName);
  ShowMessage(dialog, text, MB_OK | IconStyle(icon));
}

// A Yes/No question that defaults to No: true when the user chose Yes.
bool AskBeforeWriting(HWND dialog, const char* text) {
  return ShowMessage(dialog, text, MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) == IDYES;
}

void SetChipTitle(HWND dialog, const char* chipName) {
  char title[128];
  std::snprintf(title, sizeof title, kConfigTitleFormat, chipName);
  SetWindowTextUtf8(dialog, title);
}

void EndConfigDialog(HWND dialog) { EndDialog(dialog, 0); }

// ---- AVR fuse and lock bits ----

// What this dialog has read of the chip; one AVR dialog is open at a time.
AvrConfigSession g_avrSession;

void AvrInitialise(HWND dialog) {
  const ChipIndex chip = SelectedChip();
  g_avrSession = AvrConfigSession();
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
  if (!ReadAvrConfig(Device(), chip, boxes, g_avrSession)) {
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
  // Writing boxes that never showed the chip's bytes would send the
  // template's guesses (a low fuse of 0xFF selects a crystal the board may lack).
  if (!g_avrSession.allRead && !AskBeforeWriting(dialog, kAvrUnreadQuestion)) return;
  const uint8_t hazards =
      AvrConfigHazards(chip, g_avrSession.lastRead, g_avrSession.known, AvrConfigFromBoxes(boxes), kAllConfigBytes);
  if (hazards) {
    char question[512];
    FormatAvrHazardQuestion(hazards, question, sizeof question);
    if (!AskBeforeWriting(dialog, question)) return;
  }
  const ConfigMessage message = AvrWriteMessage(WriteAvrConfig(Device(), chip, boxes, g_avrSession));
  ShowChipMessage(dialog, message.format, ChipName(chip), message.icon);
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
  const At89LockWriteResult result = WriteAt89LockLevelChecked(Device(), level);
  if (result.status == ConfigWriteStatus::Mismatch)  // show the level the chip really holds
    CheckRadioButton(dialog, kAt89LockButtons[0], kAt89LockButtons[3], kAt89LockButtons[result.readBackLevel]);
  const ConfigMessage message = At89WriteMessage(result);
  ShowChipMessage(dialog, message.format, At89ChipName(), message.icon);
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
