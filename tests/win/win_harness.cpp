#include "tests/win/win_harness.h"

#include <commctrl.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>

#include "app/command_line.h"
#include "engine/engine_state.h"

namespace wintest {

namespace {

std::wstring ScratchFolder();
std::vector<std::wstring> g_scratchFiles;

// ---- registry sandbox ----

// HKEY_CURRENT_USER of this process is redirected to a key of its own, so the
// program's settings never meet those of another test program or a user. The
// scratch files go at the end too.
class RegistrySandbox : public ::testing::Environment {
 public:
  void SetUp() override {
    std::swprintf(path_, sizeof path_ / sizeof *path_, L"Software\\mcufeed-tests\\%lu", GetCurrentProcessId());
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path_, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, key_), ERROR_SUCCESS);
  }
  void TearDown() override {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(key_);
    RegDeleteTreeW(HKEY_CURRENT_USER, path_);
    for (const std::wstring& file : g_scratchFiles) DeleteFileW(file.c_str());
    RemoveDirectoryW(ScratchFolder().c_str());
  }

 private:
  wchar_t path_[64] = {};
  HKEY key_ = nullptr;
};

::testing::Environment* const g_sandbox = ::testing::AddGlobalTestEnvironment(new RegistrySandbox);

const wchar_t kSettingsKey[] = L"Software\\Corvane\\mcufeed";

// ---- job gate and virtual clock ----

DWORD g_testThread = 0;
std::mutex g_gateMutex;
std::condition_variable g_gateChanged;
bool g_gateArmed = false;
bool g_gateParked = false;
int g_gateSkip = 0;

void VirtualWait(uint32_t milliseconds) {
  if (GetCurrentThreadId() != g_testThread) {
    std::unique_lock<std::mutex> lock(g_gateMutex);
    if (g_gateArmed && g_gateSkip > 0) {
      --g_gateSkip;
    } else if (g_gateArmed) {
      g_gateParked = true;
      g_gateChanged.notify_all();
      g_gateChanged.wait(lock, [] { return !g_gateArmed; });
      g_gateParked = false;
    }
  }
  KQ560SimAdvanceMs(milliseconds);
}

// ---- hooks ----

std::vector<BoxRecord> g_boxes;
int g_questionAnswer = IDYES;
std::function<void(const BoxRecord&)> g_onBox;
DialogScript g_dialogScript;
std::vector<std::string> g_dialogTitles;
std::set<HWND> g_scriptedDialogs;
HWND g_pendingDialog = nullptr;
std::function<bool(HWND)> g_mainScript;
HWND g_scriptedMain = nullptr;
HHOOK g_hook = nullptr;

std::vector<std::string> g_statusLog;
WNDPROC g_statusProc = nullptr;

LRESULT CALLBACK StatusLogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT && lParam) g_statusLog.push_back(Utf8(reinterpret_cast<const wchar_t*>(lParam)));
  return CallWindowProcW(g_statusProc, window, message, wParam, lParam);
}

bool IsClass(HWND window, const wchar_t* name) {
  wchar_t cls[64] = {};
  GetClassNameW(window, cls, 64);
  return lstrcmpiW(cls, name) == 0;
}

BoxIcon IconOf(HWND box) {
  HWND iconControl = GetDlgItem(box, 0x0440);  // wine's template
  if (!iconControl) iconControl = GetDlgItem(box, 0x0014);  // Windows'
  if (!iconControl) return BoxIcon::None;
  const HICON icon = reinterpret_cast<HICON>(SendMessageW(iconControl, STM_GETICON, 0, 0));
  if (!icon) return BoxIcon::None;
  if (icon == LoadIconW(nullptr, IDI_INFORMATION)) return BoxIcon::Information;
  if (icon == LoadIconW(nullptr, IDI_EXCLAMATION)) return BoxIcon::Exclamation;
  if (icon == LoadIconW(nullptr, IDI_QUESTION)) return BoxIcon::Question;
  return BoxIcon::Other;
}

bool ButtonShown(HWND box, int id) {
  const HWND button = GetDlgItem(box, id);
  return button && (GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE);
}

void CALLBACK RunDialogScript(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  const HWND dialog = g_pendingDialog;
  g_pendingDialog = nullptr;
  if (!dialog || !IsWindow(dialog)) return;
  g_dialogTitles.push_back(WindowText(dialog));
  if (g_dialogScript) g_dialogScript(dialog);
  if (IsWindow(dialog)) PostMessageW(dialog, WM_CLOSE, 0, 0);
}

void CALLBACK RunMainScript(HWND, UINT, UINT_PTR timer, DWORD) {
  if (!g_mainScript || !IsWindow(g_scriptedMain) || g_mainScript(g_scriptedMain)) KillTimer(nullptr, timer);
}

void OnActivate(HWND window) {
  if (!IsClass(window, L"#32770")) return;
  if (GetDlgItem(window, 0xFFFF)) {  // a message box: its text has this id
    BoxRecord box;
    box.text = ItemText(window, 0xFFFF);
    box.caption = WindowText(window);
    box.owner = GetWindow(window, GW_OWNER);
    box.ownerVisible = box.owner && IsWindowVisible(box.owner);
    box.icon = IconOf(window);
    box.yesNo = ButtonShown(window, IDYES) && ButtonShown(window, IDNO);
    GetWindowRect(window, &box.rect);
    g_boxes.push_back(box);
    if (g_onBox) g_onBox(box);
    const int answer = box.yesNo ? g_questionAnswer : IDOK;
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, answer)));
    return;
  }
  if (window == g_app.mainWindow) {
    if (g_mainScript && g_scriptedMain != window) {
      g_scriptedMain = window;
      SetTimer(nullptr, 0, 10, RunMainScript);
    }
    return;
  }
  if (g_app.mainWindow && !g_scriptedDialogs.count(window)) {
    g_scriptedDialogs.insert(window);
    g_pendingDialog = window;
    SetTimer(nullptr, 0, 1, RunDialogScript);
  }
}

LRESULT CALLBACK TestCbtHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) OnActivate(reinterpret_cast<HWND>(wParam));
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::wstring ScratchFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  wchar_t folder[MAX_PATH];
  std::swprintf(folder, MAX_PATH, L"%lsmcufeed-tests-%lu", temp, GetCurrentProcessId());
  CreateDirectoryW(folder, nullptr);
  return folder;
}

}  // namespace

// ---- text ----

std::string Utf8(const wchar_t* wide) {
  char buffer[4096];
  if (!WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, sizeof buffer, nullptr, nullptr)) return {};
  return buffer;
}

std::wstring Wide(const std::string& utf8) {
  wchar_t buffer[4096];
  if (!MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, buffer, 4096)) return {};
  return buffer;
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

POINT CentredOver(const RECT& main, const RECT& window) {
  const LONG w = window.right - window.left, h = window.bottom - window.top;
  return {main.left + (main.right - main.left) / 2 - w / 2, main.top + (main.bottom - main.top) / 2 - h / 2};
}

// ---- pumping ----

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

// ---- gate ----

void ArmJobGate(int skipWaits) {
  std::lock_guard<std::mutex> lock(g_gateMutex);
  g_gateArmed = true;
  g_gateSkip = skipWaits;
}

bool JobParked() {
  std::lock_guard<std::mutex> lock(g_gateMutex);
  return g_gateParked;
}

void ReleaseJobGate() {
  std::lock_guard<std::mutex> lock(g_gateMutex);
  g_gateArmed = false;
  g_gateChanged.notify_all();
}

// ---- settings ----

void ClearSettings() { RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey); }

void StoreSetting(const wchar_t* name, DWORD value) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

bool StoredSetting(const wchar_t* name, DWORD* value) {
  DWORD size = sizeof *value;
  return RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_DWORD, nullptr, value, &size) ==
         ERROR_SUCCESS;
}

// ---- files ----

std::string WriteScratchFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::wstring path = ScratchFolder() + L"\\" + Wide(name);
  g_scratchFiles.push_back(path);
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  if (!bytes.empty()) WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return Utf8(path.c_str());
}

std::string WriteScratchText(const std::string& name, const std::string& text) {
  return WriteScratchFile(name, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string HexRecords(uint32_t address, const std::vector<uint8_t>& bytes) {
  std::string out;
  for (size_t at = 0; at < bytes.size(); at += 16) {
    const size_t n = bytes.size() - at < 16 ? bytes.size() - at : 16;
    const uint32_t a = address + uint32_t(at);
    uint8_t sum = uint8_t(n + (a >> 8) + a);
    char line[64];
    std::snprintf(line, sizeof line, ":%02X%04X00", unsigned(n), unsigned(a & 0xFFFF));
    out += line;
    for (size_t k = 0; k < n; ++k) {
      std::snprintf(line, sizeof line, "%02X", bytes[at + k]);
      out += line;
      sum = uint8_t(sum + bytes[at + k]);
    }
    std::snprintf(line, sizeof line, "%02X\r\n", unsigned(uint8_t(-sum)));
    out += line;
  }
  return out;
}

std::vector<uint8_t> Pattern(size_t length, uint8_t seed) {
  std::vector<uint8_t> bytes(length);
  uint32_t x = seed * 2654435761u + 1;
  for (uint8_t& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = uint8_t(x >> 16);
    if (b == 0xFF) b = 0x5A;  // never the erased value, so a missed byte shows
  }
  return bytes;
}

// ---- simulator ----

uint64_t BridgeCalls() {
  KQ560SimStats stats;
  KQ560SimGetStats(&stats);
  return stats.calls;
}

std::vector<uint8_t> TargetMemory(uint32_t memory, uint32_t length, uint32_t slot) {
  std::vector<uint8_t> bytes(length);
  EXPECT_EQ(KQ560SimReadMemory(slot, memory, 0, bytes.data(), length), length);
  return bytes;
}

// ---- boxes and dialogs ----

const std::vector<BoxRecord>& Boxes() { return g_boxes; }
void ClearBoxes() { g_boxes.clear(); }
void SetQuestionAnswer(int answer) { g_questionAnswer = answer; }
void OnBox(std::function<void(const BoxRecord&)> callback) { g_onBox = std::move(callback); }
void SetDialogScript(DialogScript script) { g_dialogScript = std::move(script); }
const std::vector<std::string>& DialogTitles() { return g_dialogTitles; }
void SetMainScript(std::function<bool(HWND)> script) { g_mainScript = std::move(script); }

// ---- fixture ----

void WindowTest::SetUp() {
  g_testThread = GetCurrentThreadId();
  InitCommonControls();
  KQ560SimReset();
  SetWaitRoutine(&VirtualWait);
  ClearSettings();
  PrepareAppState(g_app, GetModuleHandleW(nullptr));
  SetCloseWaitLimit(kCloseWaitLimitMs);
  g_boxes.clear();
  g_questionAnswer = IDYES;
  g_onBox = nullptr;
  g_dialogScript = nullptr;
  g_dialogTitles.clear();
  g_scriptedDialogs.clear();
  g_mainScript = nullptr;
  g_scriptedMain = nullptr;
  g_statusLog.clear();
  g_hook = SetWindowsHookExW(WH_CBT, TestCbtHook, nullptr, GetCurrentThreadId());
  ASSERT_NE(g_hook, nullptr);
}

void WindowTest::TearDown() {
  ReleaseJobGate();
  if (main_) {
    EXPECT_TRUE(WaitForJobEnd()) << "a job outlived its test";
    DestroyWindow(main_);
    main_ = nullptr;
  }
  WaitForJobEnd();
  KQ560SimWaitNotices(2000);
  PumpFor(10);
  KQ560SimReset();
  SetWaitRoutine(nullptr);
  UnhookWindowsHookEx(g_hook);
  g_hook = nullptr;
  g_app.mainWindow = nullptr;
}

HWND WindowTest::OpenMainWindow() {
  g_statusLog.clear();
  main_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainWindowProc, 0);
  EXPECT_NE(main_, nullptr);
  if (!main_) return nullptr;
  // Log the status line from here on; initialisation's texts are in the control already.
  g_statusProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(Item(IDC_STATUS), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StatusLogProc)));
  ShowWindow(main_, SW_SHOW);
  PumpFor(20);
  return main_;
}

void WindowTest::UseCommandLine(const std::string& line) {
  CommandLine command;
  ASSERT_EQ(ParseCommandLine(line.c_str(), &command), kCommandLineAccepted) << line;
  AdoptCommandLine(g_app, command);
}

void WindowTest::Press(int id) { PressIn(main_, id); }

void WindowTest::SelectChip(int32_t index) {
  SendMessageW(Item(IDC_CHIP_LIST), CB_SETCURSEL, WPARAM(intptr_t(index)), 0);
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(IDC_CHIP_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(IDC_CHIP_LIST)));
}

void WindowTest::SystemCommand(UINT id) { SendMessageW(main_, WM_SYSCOMMAND, id, 0); }

void WindowTest::Unplug(uint32_t slot) {
  ASSERT_TRUE(KQ560SimUnplug(slot));
  ASSERT_TRUE(KQ560SimWaitNotices(5000));
  PumpFor(30);
}

void WindowTest::Plug(uint32_t slot, uint32_t version) {
  ASSERT_TRUE(KQ560SimPlug(slot, version));
  ASSERT_TRUE(KQ560SimWaitNotices(5000));
  PumpFor(30);
}

bool WindowTest::WaitForJobEnd(DWORD timeoutMs) {
  return PumpUntil([] { return g_app.jobHandle.load() == kJobIdle; }, timeoutMs);
}

const std::vector<std::string>& WindowTest::StatusLog() const { return g_statusLog; }

}  // namespace wintest
