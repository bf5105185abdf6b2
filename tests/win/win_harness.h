// Driving the real windows of mcufeed in-process under wine: the main dialog
// created modeless on the test thread, message boxes answered by a CBT hook,
// other dialogs handed to a script once they show, the engine's waits on the
// simulator's virtual clock, and the settings in a registry key of this
// process's own.
#pragma once
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <set>

#include "app/app_startup.h"
#include "app/command_line.h"
#include "app/main_window_logic.h"
#include "app/win/main_window.h"
#include "app/win/win_text.h"
#include "resources/resource.h"
#include "sim/kq560sim.h"

namespace wintest {

enum class BoxIcon { None, Information, Exclamation, Question };  // None: none of these

// A message box as it came up (after the program placed it).
struct BoxRecord {
  std::string text, caption;  // UTF-8
  HWND owner;
  bool ownerVisible, yesNo;
  BoxIcon icon;
  RECT rect;
};

std::string Utf8(const wchar_t* wide);
std::string WindowText(HWND window);
inline std::string ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }
inline bool BoxChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
inline bool ItemEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
// Sends a command to a dialog as its button would.
inline void PressIn(HWND dialog, int id) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}
// The window sits centred over the main window (no desktop clamping).
void ExpectCentredOverMain(const RECT& window);

// Serves the thread's messages (the main window's dialog keys included)
// until `done` holds or the time is up; returns `done()`.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 15000);
void PumpFor(DWORD milliseconds);

// While armed, an engine wait on any thread but the test's parks until
// released, holding a job at a known point; the first `skipWaits` pass.
void ArmJobGate(int skipWaits = 0);
extern std::atomic<bool> g_jobParked;
inline bool JobParked() { return g_jobParked; }
void ReleaseJobGate();

void ClearSettings();
void StoreSetting(const wchar_t* name, DWORD value, DWORD type = REG_DWORD);
// The stored DWORD, or -1 when there is none.
int64_t Stored(const wchar_t* name);

// A scratch file in this process's temporary folder; returns its path (UTF-8).
std::string WriteScratchFile(const std::string& name, const std::vector<uint8_t>& bytes);
// Bytes that never repeat within 251 and are never 0xFF (the erased value), so a missed byte shows.
std::vector<uint8_t> Pattern(size_t length, uint8_t seed);

inline uint64_t BridgeCalls() {
  KQ560SimStats stats;
  return KQ560SimGetStats(&stats), stats.calls;
}
// Makes the bridge call `n` calls from now fail (1: the next one).
inline void FailCallFromNow(uint64_t n) { KQ560SimSetFaults(("fail=" + std::to_string(BridgeCalls() + n)).c_str()); }
inline std::vector<uint8_t> TargetMemory(uint32_t memory, uint32_t length, uint32_t slot = 0) {
  std::vector<uint8_t> bytes(length);
  return KQ560SimReadMemory(slot, memory, 0, bytes.data(), length), bytes;
}

// What the hooks saw and do; fresh for every test.
struct Hooks {
  std::vector<BoxRecord> boxes;  // every message box, answered with OK,
  int questionAnswer = IDYES;    // or this for a Yes/No question
  // Runs once for each dialog that shows while the main window exists
  // (configuration and file dialogs; the main window itself too if
  // `scriptMainWindow`, for a modal run), from the dialog's own message
  // loop; the dialog is closed afterwards unless the script ended it.
  // `dialogTitles` lists the dialogs it saw.
  std::function<void(HWND dialog)> dialogScript;
  bool scriptMainWindow = false;
  std::vector<std::string> dialogTitles;
  std::vector<std::string> statusLog;  // every status text since the window opened
  int captionFlips = 0;                // WM_NCACTIVATE seen by the main window (a flash is one)
  std::set<HWND> scriptedDialogs;  // seen by the hook, and the next one due for its script
  HWND pendingDialog = nullptr;
};
extern Hooks g_hooks;

// The fixture of every window test: a fresh simulator (bridge 0x30 in slot
// 0, erased ATmega8), waits on the virtual clock, HKEY_CURRENT_USER standing
// in a scratch key (so no settings), a scratch folder, AppState at start,
// no boxes or dialogs seen yet.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates the main dialog modeless, as the entry would with whatever
  // AppState and settings the test prepared, and shows it (unless not
  // `show`: then its status texts are not logged either).
  HWND OpenMainWindow(bool show = true);
  // Destroys the window and starts afresh: simulator and AppState (not the settings).
  void DiscardMainWindow();
  // Applies a command line as the entry would (it must be accepted).
  void UseCommandLine(const std::string& line) {
    CommandLine command;
    ASSERT_EQ(ParseCommandLine(line.c_str(), &command), kCommandLineAccepted) << line;
    AdoptCommandLine(g_app, command);
  }

  HWND Item(int id) const { return GetDlgItem(main_, id); }
  std::string Status() const { return ItemText(main_, IDC_STATUS); }
  bool Enabled(int id) const { return ItemEnabled(main_, id); }
  bool Checked(int id) const { return BoxChecked(main_, id); }
  void ExpectEnabled(std::initializer_list<int> enabled, std::initializer_list<int> disabled) const {
    for (int id : enabled) EXPECT_TRUE(Enabled(id)) << id;
    for (int id : disabled) EXPECT_FALSE(Enabled(id)) << id;
  }
  int32_t Selection() const { return int32_t(SendMessageW(Item(IDC_CHIP_LIST), CB_GETCURSEL, 0, 0)); }
  UINT MenuState(UINT id) const { return GetMenuState(GetSystemMenu(main_, FALSE), id, MF_BYCOMMAND); }

  void Press(int id) { PressIn(main_, id); }
  // Picks a chip-list entry as the user would (selection, then its notice).
  void SelectChip(int32_t index) {
    SendMessageW(Item(IDC_CHIP_LIST), CB_SETCURSEL, WPARAM(intptr_t(index)), 0);
    PressIn(main_, IDC_CHIP_LIST);
  }
  void SystemCommand(UINT id) { SendMessageW(main_, WM_SYSCOMMAND, id, 0); }
  // Plugs or unplugs a bridge through the simulator, then serves the window's notice.
  void Replug(uint32_t slot, bool plugged, uint32_t version = 0x30);
  bool JobRunning() const { return g_app.jobHandle.load() != kJobIdle; }
  bool WaitForJobEnd(DWORD timeoutMs = 30000) { return PumpUntil([] { return g_app.jobHandle.load() == kJobIdle; }, timeoutMs); }
  // The main dialog has ended (EndDialog hides a modeless dialog).
  bool Ended() const { return main_ && !IsWindowVisible(main_); }
  bool Logged(const std::string& text) const {
    return std::count(g_hooks.statusLog.begin(), g_hooks.statusLog.end(), text) > 0;
  }

  HWND main_ = nullptr;
};

}  // namespace wintest
