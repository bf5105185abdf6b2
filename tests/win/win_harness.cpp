#include "tests/win/win_harness.h"

#include "app/program_file.h"

namespace wintest {

Hooks g_hooks;
std::atomic<bool> g_jobParked{false};

namespace {

const wchar_t kSettingsKey[] = L"Software\\Corvane\\mcufeed";
// Per process, so that test programs running side by side never meet.
const std::wstring kScratchName = L"mcufeed-tests-" + std::to_wstring(GetCurrentProcessId());
HKEY g_sandbox = nullptr;
std::wstring g_scratchFolder;
std::vector<std::string> g_scratchFiles;

// ---- job gate and virtual clock ----

DWORD g_testThread = 0;
std::atomic<int> g_gateSkip{-1};  // waits to let pass before parking; -1: the gate is open
const HANDLE g_gateReleased = CreateEventW(nullptr, TRUE, TRUE, nullptr);

void VirtualWait(uint32_t milliseconds) {
  if (GetCurrentThreadId() != g_testThread && g_gateSkip.load() >= 0 && g_gateSkip-- == 0) {
    g_jobParked = true;
    WaitForSingleObject(g_gateReleased, INFINITE);
    g_jobParked = false;
  }
  KQ560SimAdvanceMs(milliseconds);
}

// ---- hooks ----

HHOOK g_hook = nullptr;
WNDPROC g_statusProc = nullptr, g_mainProc = nullptr;

LRESULT CALLBACK StatusSpy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT && lParam) g_hooks.statusLog.push_back(Utf8(reinterpret_cast<const wchar_t*>(lParam)));
  return CallWindowProcW(g_statusProc, window, message, wParam, lParam);
}

LRESULT CALLBACK MainSpy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCACTIVATE) ++g_hooks.captionFlips;
  return CallWindowProcW(g_mainProc, window, message, wParam, lParam);
}

BoxIcon IconOf(HWND box) {
  HWND control = GetDlgItem(box, 0x0440);           // wine's template
  if (!control) control = GetDlgItem(box, 0x0014);  // Windows'
  const HICON icon = control ? reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0)) : nullptr;
  for (auto [id, kind] : {std::pair<LPCWSTR, BoxIcon>{IDI_INFORMATION, BoxIcon::Information},
                          {IDI_EXCLAMATION, BoxIcon::Exclamation}, {IDI_QUESTION, BoxIcon::Question}})
    if (icon && icon == LoadIconW(nullptr, id)) return kind;
  return BoxIcon::None;
}

bool ButtonShown(HWND box, int id) { return GetWindowLongW(GetDlgItem(box, id), GWL_STYLE) & WS_VISIBLE; }

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
    BoxRecord box = {ItemText(window, 0xFFFF), WindowText(window), owner, owner && IsWindowVisible(owner), yesNo,
                     IconOf(window), {}};
    GetWindowRect(window, &box.rect);
    g_hooks.boxes.push_back(box);
    const int answer = yesNo ? g_hooks.questionAnswer : IDOK;  // posted: the box is still being set up
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

std::string Utf8(const wchar_t* wide) {
  char buffer[4096];
  return WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, sizeof buffer, nullptr, nullptr) ? buffer : "";
}

std::string WindowText(HWND window) {
  wchar_t buffer[2048] = {};
  return GetWindowTextW(window, buffer, 2048), Utf8(buffer);
}

void ExpectCentredOverMain(const RECT& window) {
  RECT main;
  GetWindowRect(static_cast<HWND>(g_app.mainWindow), &main);
  EXPECT_EQ(window.left, main.left + (main.right - main.left) / 2 - (window.right - window.left) / 2);
  EXPECT_EQ(window.top, main.top + (main.bottom - main.top) / 2 - (window.bottom - window.top) / 2);
}

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
  PumpUntil([until = GetTickCount64() + milliseconds] { return GetTickCount64() >= until; }, milliseconds + 1000);
}

void ArmJobGate(int skipWaits) { ResetEvent(g_gateReleased), g_gateSkip = skipWaits; }

void ReleaseJobGate() { g_gateSkip = -1, SetEvent(g_gateReleased); }

void ClearSettings() { RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey); }

void StoreSetting(const wchar_t* name, DWORD value, DWORD type) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, name, type, &value, sizeof value), ERROR_SUCCESS);
}

int64_t Stored(const wchar_t* name) {
  DWORD value = 0, size = sizeof value;
  const LONG status = RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
  return status == ERROR_SUCCESS ? int64_t(value) : -1;
}

std::string WriteScratchFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = Utf8(g_scratchFolder.c_str()) + "\\" + name;
  EXPECT_TRUE(WriteWholeFile(path.c_str(), bytes.data(), uint32_t(bytes.size())));
  g_scratchFiles.push_back(path);
  return path;
}

std::vector<uint8_t> Pattern(size_t length, uint8_t seed) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t((i * 97 + seed * 13) % 251);
  return bytes;
}

void WindowTest::SetUp() {
  // HKEY_CURRENT_USER redirected to a scratch key: the settings never meet a user's.
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (L"Software\\" + kScratchName).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &g_sandbox, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, g_sandbox), ERROR_SUCCESS);
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  g_scratchFolder = temp + kScratchName;
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
  SetFileReadFunction(nullptr);
  UnhookWindowsHookEx(g_hook);
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegCloseKey(g_sandbox);
  RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\" + kScratchName).c_str());
  for (const std::string& file : g_scratchFiles) DeleteFileW(Widen(file.c_str()).text);
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
      SetWindowLongPtrW(Item(IDC_STATUS), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StatusSpy)));
  g_mainProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(main_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MainSpy)));
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

void WindowTest::Replug(uint32_t slot, bool plugged, uint32_t version) {
  ASSERT_TRUE(plugged ? KQ560SimPlug(slot, version) : KQ560SimUnplug(slot));
  ASSERT_TRUE(KQ560SimWaitNotices(5000));
  PumpFor(30);
}

}  // namespace wintest
