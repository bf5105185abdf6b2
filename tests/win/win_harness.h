// Driving the real windows of mcufeed in-process under wine: the main dialog
// created modeless on the test thread, message boxes answered by a CBT hook,
// configuration and file dialogs handed to a script once they show, the
// engine's waits on the simulator's virtual clock, and the settings in a
// registry key of this process's own.
#pragma once
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/app_startup.h"
#include "app/main_window_logic.h"
#include "app/win/main_window.h"
#include "resources/resource.h"
#include "sim/kq560sim.h"

namespace wintest {

enum class BoxIcon { None, Information, Exclamation, Question, Other };

// A message box as it came up (after the program centred it).
struct BoxRecord {
  std::string text;     // UTF-8
  std::string caption;  // UTF-8
  HWND owner;
  bool ownerVisible;    // the owner was already on screen
  BoxIcon icon;
  bool yesNo;           // a question with Yes and No
  RECT rect;
};

// ---- text ----
std::string Utf8(const wchar_t* wide);
std::wstring Wide(const std::string& utf8);
std::string WindowText(HWND window);

// ---- pumping ----
// Serves the thread's messages (the main window's dialog keys included)
// until `done` holds or the time is up; returns `done()`.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 15000);
void PumpFor(DWORD milliseconds);

// ---- the job gate ----
// While armed, an engine wait on any thread but the test's parks there until
// released: a job held at a known point. The first `skipWaits` waits pass
// (an AVR job: identification waits once, the flash writer next after its
// chip erase).
void ArmJobGate(int skipWaits = 0);
bool JobParked();
void ReleaseJobGate();

// ---- settings (this process's scratch registry) ----
void ClearSettings();
void StoreSetting(const wchar_t* name, DWORD value);
bool StoredSetting(const wchar_t* name, DWORD* value);

// ---- files ----
// A scratch file in the temporary folder; returns its path in UTF-8.
std::string WriteScratchFile(const std::string& name, const std::vector<uint8_t>& bytes);
std::string WriteScratchText(const std::string& name, const std::string& text);
// Intel HEX for `bytes` at `address`, 16 bytes a record, without the end record.
std::string HexRecords(uint32_t address, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> Pattern(size_t length, uint8_t seed);

// ---- simulator ----
uint64_t BridgeCalls();
std::vector<uint8_t> TargetMemory(uint32_t memory, uint32_t length, uint32_t slot = 0);

// The fixture of every window test: a fresh simulator (bridge 0x30 in slot 0,
// erased ATmega8), waits on the virtual clock, empty settings, AppState at
// start, no boxes or dialogs seen yet.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates the main dialog modeless and shows it; as the entry would, with
  // whatever AppState and settings the test prepared.
  HWND OpenMainWindow();
  // Applies a command line as the entry would (it must be accepted).
  void UseCommandLine(const std::string& line);

  HWND Main() const { return main_; }
  HWND Item(int id) const { return GetDlgItem(main_, id); }
  std::string Status() const { return WindowText(Item(IDC_STATUS)); }
  std::string Text(int id) const { return WindowText(Item(id)); }
  bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
  bool Checked(int id) const { return IsDlgButtonChecked(main_, id) == BST_CHECKED; }
  int32_t Selection() const { return int32_t(SendMessageW(Item(IDC_CHIP_LIST), CB_GETCURSEL, 0, 0)); }
  int32_t ProgressPosition() const { return int32_t(SendMessageW(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0)); }
  UINT MenuState(UINT id) const { return GetMenuState(GetSystemMenu(main_, FALSE), id, MF_BYCOMMAND); }

  // A click as the control would send it.
  void Press(int id);
  // Picks a chip-list entry as the user would (selection, then its notice).
  void SelectChip(int32_t index);
  void SystemCommand(UINT id);
  // Plug and unplug through the simulator, then serve the window's notice.
  void Unplug(uint32_t slot);
  void Plug(uint32_t slot, uint32_t version = 0x30);
  bool JobRunning() const { return g_app.jobHandle.load() != kJobIdle; }
  bool WaitForJobEnd(DWORD timeoutMs = 30000);
  // The main dialog has ended (EndDialog hides a modeless dialog).
  bool Ended() const { return main_ && !IsWindowVisible(main_); }

  // Every text the status line received, in order.
  const std::vector<std::string>& StatusLog() const;

  HWND main_ = nullptr;
};

// ---- boxes and dialogs ----
const std::vector<BoxRecord>& Boxes();
void ClearBoxes();
// The answer given to Yes/No questions (IDYES unless set).
void SetQuestionAnswer(int answer);
// Called for each message box as it comes up, before it is answered.
void OnBox(std::function<void(const BoxRecord&)> callback);

// Runs once for each dialog other than a message box that shows while the
// main window exists (configuration dialogs, the file dialog), from the
// dialog's own message loop; the dialog is closed afterwards unless the
// script ended it.
using DialogScript = std::function<void(HWND dialog)>;
void SetDialogScript(DialogScript script);
// Titles of the dialogs that the script saw, in order.
const std::vector<std::string>& DialogTitles();

// Runs repeatedly (every 10 ms) once the main window of a modal run
// (RunProgram) shows, until it returns true.
void SetMainScript(std::function<bool(HWND main)> script);

// Sends a command to a dialog as its button would.
void PressIn(HWND dialog, int id);
bool BoxChecked(HWND dialog, int id);
bool ItemEnabled(HWND dialog, int id);
std::string ItemText(HWND dialog, int id);

// The expected place of a window centred over the main window (no desktop clamping).
POINT CentredOver(const RECT& main, const RECT& window);

}  // namespace wintest
