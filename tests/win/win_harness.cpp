#include "tests/win/win_harness.h"

#include <algorithm>
#include <atomic>

#include "app/command_line.h"
#include "engine/engine_state.h"

namespace wintest {

Hooks g_hooks;

namespace {

const wchar_t kSettingsKey[] = L"Software\\Corvane\\mcufeed";
// Per process, so that test programs running side by side never meet.
std::wstring ScratchName() { return L"mcufeed-tests-" + std::to_wstring(GetCurrentProcessId()); }
HKEY g_sandbox = nullptr;
std::wstring g_scratchFolder;
std::vector<std::wstring> g_scratchFiles;

// ---- job gate and virtual clock ----

DWORD g_testThread = 0;
std::atomic<int> g_gateSkip{-1};  // waits to let pass before parking; -1: the gate is open
std::atomic<bool> g_gateParked{false};
const HANDLE g_gateReleased = CreateEventW(nullptr, TRUE, TRUE, nullptr);

void VirtualWait(uint32_t milliseconds) {
  if (GetCurrentThreadId() != g_testThread && g_gateSkip.load() >= 0 && g_gateSkip-- == 0) {
    g_gateParked = true;
    WaitForSingleObject(g_gateReleased, INFINITE);
    g_gateParked = false;
  }
  KQ560SimAdvanceMs(milliseconds);
}

// ---- hooks ----

HHOOK g_hook = nullptr;
WNDPROC g_statusProc = nullptr;

LRESULT CALLBACK StatusLogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT && lParam) g_hooks.statusLog.push_back(Utf8(reinterpret_cast<const wchar_t*>(lParam)));
  return CallWindowProcW(g_statusProc, window, message, wParam, lParam);
}

BoxIcon IconOf(HWND box) {
  HWND control = GetDlgItem(box, 0x0440);      // wine's template
  if (!control) control = GetDlgItem(box, 0x0014);  // Windows'
  const HICON icon = control ? reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0)) : nullptr;
  if (!icon) return BoxIcon::None;
  if (icon == LoadIconW(nullptr, IDI_INFORMATION)) return BoxIcon::Information;
  if (icon == LoadIconW(nullptr, IDI_EXCLAMATION)) return BoxIcon::Exclamation;
  return icon == LoadIconW(nullptr, IDI_QUESTION) ? BoxIcon::Question : BoxIcon::None;
}

bool ButtonShown(HWND box, int id) {
  const HWND button = GetDlgItem(box, id);
  return button && (GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE);
}

void CALLBACK RunDialogScript(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  const HWND dialog = g_hooks.pendingDialog;
  g_hooks.pendingDialog = nullptr;
  if (!dialog || !IsWindow(dialog)) return;
  g_hooks.dialogTitles.push_back(WindowText(dialog));
  if (g_hooks.dialogScript) g_hooks.dialogScript(dialog);
  if (IsWindow(dialog)) PostMessageW(dialog, WM_CLOSE, 0, 0);
}

void OnActivate(HWND window) {
  wchar_t cls[16] = {};
  GetClassNameW(window, cls, 16);
  if (lstrcmpW(cls, L"#32770") != 0) return;
  if (GetDlgItem(window, 0xFFFF)) {  // a message box: its text has this id
    const HWND owner = GetWindow(window, GW_OWNER);
    const bool yesNo = ButtonShown(window, IDYES) && ButtonShown(window, IDNO);
    BoxRecord box = {ItemText(window, 0xFFFF), WindowText(window), owner, owner && IsWindowVisible(owner),
                     IconOf(window), yesNo, {}};
    GetWindowRect(window, &box.rect);
    g_hooks.boxes.push_back(box);
    if (g_hooks.onBox) g_hooks.onBox(box);
    const int answer = yesNo ? g_hooks.questionAnswer : IDOK;
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, answer)));
  } else if (g_app.mainWindow && (window != g_app.mainWindow || g_hooks.scriptMainWindow) &&
             g_hooks.scriptedDialogs.insert(window).second) {
    g_hooks.pendingDialog = window;
    SetTimer(nullptr, 0, 1, RunDialogScript);
  }
}

LRESULT CALLBACK TestCbtHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) OnActivate(reinterpret_cast<HWND>(wParam));
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

// ---- text and controls ----

std::string Utf8(const wchar_t* wide) {
  char buffer[4096];
  return WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, sizeof buffer, nullptr, nullptr) ? buffer : "";
}

std::string WindowText(HWND window) {
  wchar_t buffer[2048] = {};
  GetWindowTextW(window, buffer, 2048);
  return Utf8(buffer);
}

std::string ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }
bool BoxChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
bool ItemEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

void PressIn(HWND dialog, int id) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void ExpectCentredOverMain(const RECT& window) {
  RECT main;
  GetWindowRect(static_cast<HWND>(g_app.mainWindow), &main);
  EXPECT_EQ(window.left, main.left + (main.right - main.left) / 2 - (window.right - window.left) / 2);
  EXPECT_EQ(window.top, main.top + (main.bottom - main.top) / 2 - (window.bottom - window.top) / 2);
}

// ---- pumping and the gate ----

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!done()) {
    if (GetTickCount64() > deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      const HWND main = static_cast<HWND>(g_app.mainWindow);
      if (main && IsWindow(main) && IsDialogMessageW(main, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return true;
}

void PumpFor(DWORD milliseconds) {
  const ULONGLONG until = GetTickCount64() + milliseconds;
  PumpUntil([until] { return GetTickCount64() >= until; }, milliseconds + 1000);
}

void ArmJobGate(int skipWaits) {
  ResetEvent(g_gateReleased);
  g_gateSkip = skipWaits;
}

bool JobParked() { return g_gateParked; }

void ReleaseJobGate() {
  g_gateSkip = -1;
  SetEvent(g_gateReleased);
}

// ---- settings, files and the simulator ----

void ClearSettings() { RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey); }

void StoreSetting(const wchar_t* name, DWORD value) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, name, REG_DWORD, &value, sizeof value), ERROR_SUCCESS);
}

int64_t Stored(const wchar_t* name) {
  DWORD value = 0, size = sizeof value;
  const LONG status = RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
  return status == ERROR_SUCCESS ? int64_t(value) : -1;
}

std::string WriteScratchFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::wstring path = g_scratchFolder + L"\\" + Widen(name.c_str()).text;
  g_scratchFiles.push_back(path);
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  if (!bytes.empty()) WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return Utf8(path.c_str());
}

std::vector<uint8_t> Pattern(size_t length, uint8_t seed) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t((i * 97 + seed * 13) % 251);
  return bytes;
}

uint64_t BridgeCalls() {
  KQ560SimStats stats;
  KQ560SimGetStats(&stats);
  return stats.calls;
}

void FailCallFromNow(uint64_t n) { KQ560SimSetFaults(("fail=" + std::to_string(BridgeCalls() + n)).c_str()); }

std::vector<uint8_t> TargetMemory(uint32_t memory, uint32_t length, uint32_t slot) {
  std::vector<uint8_t> bytes(length);
  EXPECT_EQ(KQ560SimReadMemory(slot, memory, 0, bytes.data(), length), length);
  return bytes;
}

// ---- fixture ----

void WindowTest::SetUp() {
  // HKEY_CURRENT_USER redirected to a scratch key: the settings never meet a user's.
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (L"Software\\" + ScratchName()).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &g_sandbox, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, g_sandbox), ERROR_SUCCESS);
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  g_scratchFolder = temp + ScratchName();
  CreateDirectoryW(g_scratchFolder.c_str(), nullptr);
  g_testThread = GetCurrentThreadId();
  InitCommonControls();
  KQ560SimReset();
  SetWaitRoutine(&VirtualWait);
  PrepareAppState(g_app, GetModuleHandleW(nullptr));
  SetCloseWaitLimit(kCloseWaitLimitMs);
  g_hooks = Hooks();
  g_hook = SetWindowsHookExW(WH_CBT, TestCbtHook, nullptr, GetCurrentThreadId());
  ASSERT_NE(g_hook, nullptr);
}

void WindowTest::TearDown() {
  ReleaseJobGate();
  EXPECT_TRUE(!main_ || WaitForJobEnd()) << "a job outlived its test";
  DiscardMainWindow();
  KQ560SimWaitNotices(2000);
  PumpFor(10);
  SetWaitRoutine(nullptr);
  UnhookWindowsHookEx(g_hook);
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegCloseKey(g_sandbox);
  RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\" + ScratchName()).c_str());
  for (const std::wstring& file : g_scratchFiles) DeleteFileW(file.c_str());
  g_scratchFiles.clear();
  RemoveDirectoryW(g_scratchFolder.c_str());
}

HWND WindowTest::OpenMainWindow(bool show) {
  g_hooks.statusLog.clear();
  main_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainWindowProc, 0);
  EXPECT_NE(main_, nullptr);
  if (!main_ || !show) return main_;
  // Logged from here on; initialisation's texts are in the control already.
  g_statusProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(Item(IDC_STATUS), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StatusLogProc)));
  ShowWindow(main_, SW_SHOW);
  PumpFor(20);
  return main_;
}

void WindowTest::DiscardMainWindow() {
  WaitForJobEnd();
  if (main_) DestroyWindow(main_);
  main_ = nullptr;
  KQ560SimReset();
  PrepareAppState(g_app, GetModuleHandleW(nullptr));
}

void WindowTest::UseCommandLine(const std::string& line) {
  CommandLine command;
  ASSERT_EQ(ParseCommandLine(line.c_str(), &command), kCommandLineAccepted) << line;
  AdoptCommandLine(g_app, command);
}

void WindowTest::ExpectEnabled(std::initializer_list<int> enabled, std::initializer_list<int> disabled) const {
  for (int id : enabled) EXPECT_TRUE(Enabled(id)) << id;
  for (int id : disabled) EXPECT_FALSE(Enabled(id)) << id;
}

void WindowTest::SelectChip(int32_t index) {
  SendMessageW(Item(IDC_CHIP_LIST), CB_SETCURSEL, WPARAM(intptr_t(index)), 0);
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(IDC_CHIP_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(IDC_CHIP_LIST)));
}

void WindowTest::Replug(uint32_t slot, bool plugged, uint32_t version) {
  ASSERT_TRUE(plugged ? KQ560SimPlug(slot, version) : KQ560SimUnplug(slot));
  ASSERT_TRUE(KQ560SimWaitNotices(5000));
  PumpFor(30);
}

bool WindowTest::WaitForJobEnd(DWORD timeoutMs) {
  return PumpUntil([] { return g_app.jobHandle.load() == kJobIdle; }, timeoutMs);
}

bool WindowTest::Logged(const std::string& text) const {
  return std::find(g_hooks.statusLog.begin(), g_hooks.statusLog.end(), text) != g_hooks.statusLog.end();
}

}  // namespace wintest
