#include "app/win/main_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cstdio>
#include <initializer_list>

#include "app/app_startup.h"
#include "app/command_line.h"
#include "app/download_job.h"
#include "app/main_window_logic.h"
#include "app/settings.h"
#include "app/status_texts.h"
#include "app/win/config_dialogs.h"
#include "app/win/placement.h"
#include "app/win/win_text.h"
#include "engine/identify.h"
#include "link/bridge.h"
#include "link/line_sequences.h"
#include "resources/resource.h"

AppState g_app;

namespace {

uint32_t g_closeWaitLimitMs = kCloseWaitLimitMs;

bool JobRunning() { return g_app.jobHandle.load() != kJobIdle; }

HMENU SystemMenu() { return static_cast<HMENU>(g_app.systemMenu); }

void ShowStatus(HWND window, const char* text) { SetItemTextUtf8(window, IDC_STATUS, text); }

int32_t ChipListSelection(HWND window) {
  return int32_t(SendDlgItemMessageW(window, IDC_CHIP_LIST, CB_GETCURSEL, 0, 0));
}

void ApplyControlStates(HWND window, const ControlEnable* changes, int count) {
  for (int i = 0; i < count; ++i) EnableWindow(GetDlgItem(window, changes[i].controlId), changes[i].enabled);
}

void DisableEepromBox(HWND window) {
  CheckDlgButton(window, IDC_EEPROM, BST_UNCHECKED);
  EnableWindow(GetDlgItem(window, IDC_EEPROM), FALSE);
}

void ShowFileTitle(HWND window) {
  char title[kCommandPathSize + 32];
  FormatFileTitle(g_app.filePath, title, sizeof title);
  SetWindowTextUtf8(window, title);
}

void ShowPlainTitle(HWND window) {
  char title[64];
  FormatPlainTitle(title, sizeof title);
  SetWindowTextUtf8(window, title);
}

void PressButton(HWND window, int controlId) {
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, controlId)));
}

// ---- system menu ----

void InsertSystemMenuItems(HMENU menu) {
  const WideText fastSpi = Widen(kFastSpiItemText);
  const WideText help = Widen(kCommandHelpItemText);
  struct Item {
    UINT id;
    const wchar_t* text;  // null: separator
  };
  const Item items[] = {{IDM_FAST_SPI, fastSpi.text}, {IDM_COMMAND_HELP, help.text}, {0, nullptr}};
  for (const Item& item : items) {
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    if (item.text) {
      info.fMask = MIIM_ID | MIIM_STRING | MIIM_FTYPE | MIIM_STATE;
      info.fType = MFT_STRING;
      info.fState = MFS_ENABLED | MFS_UNCHECKED;
      info.wID = item.id;
      info.dwTypeData = const_cast<wchar_t*>(item.text);
    } else {
      info.fMask = MIIM_FTYPE;
      info.fType = MFT_SEPARATOR;
    }
    InsertMenuItemW(menu, SC_CLOSE, FALSE, &info);  // before Close, found by its command
  }
}

void ResetFastSpiItem() {
  CheckMenuItem(SystemMenu(), IDM_FAST_SPI, MF_BYCOMMAND | MF_UNCHECKED);
  EnableMenuItem(SystemMenu(), IDM_FAST_SPI,
                 MF_BYCOMMAND | (g_app.engine.hardwareSpi.load() ? MF_ENABLED : MF_DISABLED | MF_GRAYED));
}

void LoadFastSpiItem() {
  g_app.engine.fastSpi.store(LoadFastSpiSetting());
  CheckMenuItem(SystemMenu(), IDM_FAST_SPI, MF_BYCOMMAND | (g_app.engine.fastSpi.load() ? MF_CHECKED : MF_UNCHECKED));
}

void ToggleFastSpi() {
  const int fastSpi = FastSpiAfterToggle(GetMenuState(SystemMenu(), IDM_FAST_SPI, MF_BYCOMMAND), MF_CHECKED);
  g_app.engine.fastSpi.store(fastSpi);
  CheckMenuItem(SystemMenu(), IDM_FAST_SPI, MF_BYCOMMAND | (fastSpi ? MF_CHECKED : MF_UNCHECKED));
  StoreFastSpiSetting(fastSpi);
}

// ---- bridge ----

// Opens the slot at DeviceIndex and sets the controls to match. A failure
// leaves an earlier handle alone: a lost bridge is not closed.
void OpenBridgeAtDeviceIndex(HWND window) {
  ControlEnable changes[kMaxControlChanges];
  const bool opened = OpenBridge(g_app.engine.deviceIndex.load(), &g_app.bridge);
  g_app.engine.hardwareSpi.store(g_app.bridge.hardwareSpi ? 1 : 0);
  if (!opened) {
    ApplyControlStates(window, changes, BridgeControlStates(false, false, changes));
    ShowStatus(window, kTextBridgeLost);
    return;
  }
  ResetFastSpiItem();
  if (g_app.bridge.hardwareSpi) LoadFastSpiItem();
  ApplyControlStates(window, changes, BridgeControlStates(true, g_app.fileChosen != 0, changes));
  ShowStatus(window, kTextBridgeOpened);
}

bool ScanSlots(HWND window) {
  for (uint32_t slot = 0; slot < kKq560SlotCount; ++slot) {
    g_app.engine.deviceIndex.store(slot);
    OpenBridgeAtDeviceIndex(window);
    if (g_app.bridge.open) return true;
  }
  return false;
}

void HandlePlugNotice(HWND window, uint32_t event) {
  switch (PlugNoticeAction(event, g_app.bridge.open)) {
    case PlugAction::ScanSlots:
      ScanSlots(window);
      break;
    case PlugAction::ProbeOpenSlot:
      if (KQ560GetDeviceName(g_app.engine.deviceIndex.load()) == nullptr) OpenBridgeAtDeviceIndex(window);
      break;
    case PlugAction::None:
      break;
  }
}

// ---- download job ----

// The job's view of the window. Every call is a message sent to the window's
// thread, so the changes happen there, synchronously and in order.
class WindowJobView : public DownloadView {
 public:
  explicit WindowJobView(HWND window) : window_(window) {}

  ProgressRange QueryProgressRange() override {
    PBRANGE range = {};
    SendMessageW(Bar(), PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    return {range.iLow, range.iHigh};
  }
  void SetProgress(int32_t position) override { SendMessageW(Bar(), PBM_SETPOS, WPARAM(position), 0); }
  void AdvanceProgress(int32_t delta) override { SendMessageW(Bar(), PBM_DELTAPOS, WPARAM(delta), 0); }
  void ShowStatus(const char* text) override { SetItemTextUtf8(window_, IDC_STATUS, text); }
  void SetJobControls(bool running) override { SendMessageW(window_, kJobControlsMessage, running ? 1 : 0, 0); }

 private:
  HWND Bar() const { return static_cast<HWND>(g_app.progressBar); }
  HWND window_;
};

DWORD WINAPI DownloadThread(void* parameter) {
  WindowJobView view(static_cast<HWND>(parameter));
  DownloadJob(g_app, view, g_app.filePath);
  return 0;
}

void ApplyJobControls(HWND window, bool running) {
  ControlEnable changes[kMaxControlChanges];
  ApplyControlStates(window, changes, JobControlStates(running, ChipListSelection(window), changes));
  SetItemTextUtf8(window, IDC_DOWNLOAD, running ? kStopCaption : kDownloadCaption);
  if (!running && GetForegroundWindow() != window) FlashWindow(window, TRUE);
}

void StartJob(HWND window) {
  g_app.engine.chipIndex.store(ChipListSelection(window));
  g_app.eepromTarget = IsDlgButtonChecked(window, IDC_EEPROM) == BST_CHECKED ? 1 : 0;
  g_app.engine.stopRequest.store(0);
  // Suspended until the marker is stored: the worker's last act sets the
  // handle to idle, and that must never be overwritten by the marker.
  const HANDLE thread = CreateThread(nullptr, 0, DownloadThread, window, CREATE_SUSPENDED, nullptr);
  if (!thread) {
    ShowStatus(window, kTextThreadFailed);
    g_app.jobHandle.store(kJobIdle);
    return;
  }
  g_app.jobHandle.store(reinterpret_cast<intptr_t>(thread));
  ResumeThread(thread);
  CloseHandle(thread);  // the value stays as the busy marker; nothing waits on it
}

void StopJob(HWND window) {
  g_app.engine.stopRequest.store(1);
  SetItemTextUtf8(window, IDC_DOWNLOAD, kDownloadCaption);
}

// ---- commands ----

void Browse(HWND window) {
  wchar_t path[kCommandPathSize];
  if (MultiByteToWideChar(CP_UTF8, 0, g_app.filePath, -1, path, kCommandPathSize) == 0) path[0] = L'\0';

  // Two filters, each a name and a pattern, the list ended by an empty name.
  constexpr int kFilterSize = 128;
  wchar_t filter[kFilterSize];
  int used = 0;
  for (const char* part : {kProgramFilesFilterName, kProgramFilesFilterPattern, kAllFilesFilterName,
                           kAllFilesFilterPattern})
    used += MultiByteToWideChar(CP_UTF8, 0, part, -1, filter + used, kFilterSize - used - 1);
  filter[used] = L'\0';
  const WideText title = Widen(kBrowseTitle);

  OPENFILENAMEW request = {};
  request.lStructSize = sizeof request;
  request.hwndOwner = window;
  request.lpstrFilter = filter;
  request.nFilterIndex = 1;
  request.lpstrFile = path;
  request.nMaxFile = kCommandPathSize;
  request.lpstrTitle = title.text;
  request.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_READONLY;
  if (!GetOpenFileNameW(&request)) return;

  char chosen[kCommandPathSize];
  if (!Narrow(path, chosen, sizeof chosen)) {  // kept as UTF-8 in 260 bytes
    ShowStatus(window, kTextPathUnusable);
    return;
  }
  std::snprintf(g_app.filePath, sizeof g_app.filePath, "%s", chosen);
  ShowStatus(window, g_app.filePath);
  ShowFileTitle(window);
  EnableWindow(GetDlgItem(window, IDC_DOWNLOAD), TRUE);
  g_app.fileChosen = 1;
}

void ChipListChanged(HWND window) {
  const int32_t chip = ChipListSelection(window);
  g_app.engine.chipIndex.store(chip);
  EnableWindow(GetDlgItem(window, IDC_EEPROM), TRUE);
  if (!EepromBoxEnabledSigned(chip)) DisableEepromBox(window);
}

// Identification for Configure and Reset, on the window's thread.
bool IdentifyForCommand(HWND window) {
  g_app.engine.chipIndex.store(ChipListSelection(window));
  if (const char* failure = IdentifyFailureText(IdentifyTarget(g_app.engine))) {
    ShowStatus(window, failure);
    return false;
  }
  return true;
}

void Configure(HWND window) {
  if (!IdentifyForCommand(window)) return;
  ShowStatus(window, kTextIdentified);
  const HINSTANCE instance = static_cast<HINSTANCE>(g_app.instance);
  if (IsAvrPart(g_app.engine.chipIndex.load()))
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_AVR_CONFIG), window, AvrConfigProc, 0);
  else
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_AT89_CONFIG), window, At89ConfigProc, 0);
}

void ResetTarget(HWND window) {
  ShowStatus(window, kTextResetting);
  if (!IdentifyForCommand(window)) return;
  const uint32_t device = g_app.engine.deviceIndex.load();
  const uint32_t result =
      IsAvrPart(g_app.engine.chipIndex.load()) ? ResetAvrTarget(device) : ResetAt89Target(device);
  ShowStatus(window, result == 1 ? kTextResetOk : kTextTransferFailed);
}

// Keeps serving the window (the job's status and progress messages above
// all) until the job has marked itself idle or the limit has passed.
void WaitForJobToStop(HWND window) {
  const ULONGLONG deadline = GetTickCount64() + g_closeWaitLimitMs;
  while (JobRunning() && GetTickCount64() < deadline) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(int(msg.wParam));
        return;
      }
      if (!IsDialogMessageW(window, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
  }
}

void CloseRequest(HWND window) {
  if (g_app.closeRequested) return;  // already closing, waiting for the job
  g_app.closeRequested = 1;
  for (const CloseStep step : kCloseSteps) {
    switch (step) {
      case CloseStep::ConfirmIfJobRuns:
        if (JobRunning() && ShowMessage(window, kTextConfirmClose, MB_YESNO | MB_ICONQUESTION) != IDYES) {
          g_app.closeRequested = 0;
          return;
        }
        break;
      case CloseStep::RequestStop:
        g_app.engine.stopRequest.store(1);
        break;
      case CloseStep::ShowWaitText:
        ShowStatus(window, kTextWaitingForStop);
        break;
      case CloseStep::WaitForJob:
        WaitForJobToStop(window);
        break;
      case CloseStep::CloseBridge:
        CloseBridge(&g_app.bridge);
        break;
      case CloseStep::StorePosition:
        StoreMainWindowPosition(window);
        break;
      case CloseStep::StoreChipIndex: {
        const int32_t chip = ChipListSelection(window);
        g_app.engine.chipIndex.store(chip);
        StoreChipIndexSetting(chip);
        break;
      }
      case CloseStep::EndDialog:
        EndDialog(window, 0);
        break;
    }
  }
}

bool HandleCommand(HWND window, int id) {
  switch (id) {
    case IDCANCEL:
    case IDC_EXIT:
    case IDC_BROWSE:
    case IDC_CHIP_LIST:
    case IDC_CONFIGURE:
    case IDC_DOWNLOAD:
    case IDC_EEPROM:
    case IDC_RESET:
      break;
    default:
      return false;  // the OK command included: no default button
  }
  if (g_app.closeRequested) return true;
  const bool running = JobRunning();
  switch (id) {
    case IDCANCEL:
    case IDC_EXIT:
      SendMessageW(window, WM_CLOSE, 0, 0);
      break;
    case IDC_BROWSE:
      if (!running) Browse(window);
      break;
    case IDC_CHIP_LIST:
      if (!running) ChipListChanged(window);
      break;
    case IDC_CONFIGURE:
      if (!running) Configure(window);
      break;
    case IDC_DOWNLOAD:
      if (running)
        StopJob(window);
      else
        StartJob(window);
      break;
    case IDC_EEPROM:
      if (!running)
        ShowStatus(window, IsDlgButtonChecked(window, IDC_EEPROM) == BST_CHECKED ? kTextEepromTarget : kTextFlashTarget);
      break;
    case IDC_RESET:
      if (!running) ResetTarget(window);
      break;
  }
  return true;
}

void Initialise(HWND window) {
  g_app.mainWindow = window;
  g_app.systemMenu = GetSystemMenu(window, FALSE);
  InsertSystemMenuItems(SystemMenu());
  const HICON icon = LoadIconW(static_cast<HINSTANCE>(g_app.instance), MAKEINTRESOURCEW(IDI_MCUFEED));
  SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  if (g_app.fileChosen)  // a path from the command line
    ShowFileTitle(window);
  else
    ShowPlainTitle(window);

  const HWND bar = GetDlgItem(window, IDC_PROGRESS);
  g_app.progressBar = bar;
  SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, kProgressTop));
  SendMessageW(bar, PBM_SETPOS, 0, 0);

  for (ChipIndex chip = 0; chip < kChipCatalogueSize; ++chip)
    SendDlgItemMessageW(window, IDC_CHIP_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(ChipName(chip)).text));
  // An index outside the list leaves it without a selection.
  SendDlgItemMessageW(window, IDC_CHIP_LIST, CB_SETCURSEL, WPARAM(intptr_t(LoadChipIndexSetting())), 0);
  if (g_app.commandLineMode)
    SendDlgItemMessageW(window, IDC_CHIP_LIST, CB_SETCURSEL, WPARAM(intptr_t(g_app.engine.chipIndex.load())), 0);

  EnableWindow(GetDlgItem(window, IDC_EEPROM), TRUE);
  if (!EepromBoxEnabledUnsigned(ChipListSelection(window))) DisableEepromBox(window);

  RestoreMainWindowPosition(window);

  if (ScanSlots(window)) {
    switch (CommandLineStartAction(g_app.commandLineMode, g_app.commandOp)) {
      case StartAction::Download:
        PressButton(window, IDC_DOWNLOAD);
        break;
      case StartAction::EepromDownload:
        CheckDlgButton(window, IDC_EEPROM, BST_CHECKED);
        PressButton(window, IDC_DOWNLOAD);
        break;
      case StartAction::Reset:
        PressButton(window, IDC_RESET);
        break;
      case StartAction::None:
        break;
    }
  }

  if (!KQ560SetDeviceNotify(0, nullptr, PlugNotice))
    ShowStatus(window, kTextWatchFailed);
  else if (!g_app.bridge.open)
    ShowStatus(window, kTextWatchingBridge);
}

}  // namespace

void KQ560_CALL PlugNotice(uint32_t event) {
  // The library calls from a thread of its own; the window acts on its own thread.
  if (const HWND window = static_cast<HWND>(g_app.mainWindow)) PostMessageW(window, kPlugNoticeMessage, event, 0);
}

void SetCloseWaitLimit(uint32_t milliseconds) { g_closeWaitLimitMs = milliseconds; }

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      Initialise(window);
      return TRUE;  // the focus goes to the first control in tab order, Exit
    case WM_COMMAND:
      return HandleCommand(window, LOWORD(wParam)) ? TRUE : FALSE;
    case WM_SYSCOMMAND:
      if (wParam == IDM_FAST_SPI) {
        ToggleFastSpi();
        return TRUE;
      }
      if (wParam == IDM_COMMAND_HELP) {
        ShowMessage(window, HelpText(), MB_OK | MB_ICONINFORMATION);
        return TRUE;
      }
      return FALSE;  // Close and Alt+F4 come back as WM_CLOSE
    case WM_CLOSE:
      CloseRequest(window);
      return TRUE;
    case kPlugNoticeMessage:
      HandlePlugNotice(window, uint32_t(wParam));
      return TRUE;
    case kJobControlsMessage:
      ApplyJobControls(window, wParam != 0);
      return TRUE;
    default:
      return FALSE;
  }
}

int RunProgram(HINSTANCE instance, const wchar_t* fullCommandLine) {
  PrepareAppState(g_app, instance);
  // Windows limits a command line to 32767 characters, at most three UTF-8 bytes each.
  static char line[3 * 32768];
  if (!Narrow(fullCommandLine, line, sizeof line)) line[0] = '\0';
  CommandLine command;
  const int parsed = ParseCommandLine(SkipProgramName(line), &command);
  if (parsed == kCommandLineHelp) {
    MessageBoxW(nullptr, Widen(HelpText()).text, Widen(kMessageCaption).text, MB_OK | MB_ICONINFORMATION);
    return 1;
  }
  if (parsed == kCommandLineAccepted) AdoptCommandLine(g_app, command);
  InitCommonControls();
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainWindowProc, 0);
  return 0;
}
