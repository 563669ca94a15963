// Varnconf.exe driven from outside under Wine, as an administrator uses it:
// its windows found by title, controls worked by id with the notifications
// real input sends, what they show read back, and the registry checked.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace varnconf_test {

extern const char kRoot[];
extern const char kMainTitle[];

enum Id {
  kDelete = 1003,
  kNew = 1004,
  kNewName = 1007,
  kDevices = 1009,
  kType = 1011,
  kPort = 1014,
  kAutoScan = 1016,
  kSetup = 1017,
  kTestDevice = 1018,
  kQuit = 1020,
  kCompatibility = 1021,
};

// A value of a device entry as stored: text without its NUL, other types
// as their bytes; "<missing>" when there is none. `view` may name a
// registry view (KEY_WOW64_32KEY, KEY_WOW64_64KEY).
std::string Value(const std::string& device, const char* name,
                  REGSAM view = 0);
// A visible dialog of that title, or null when none came in time.
HWND WaitForWindow(const char* title, DWORD timeoutMs = 10000);

class VarnconfTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void Launch(const std::string& program);
  void Start(const std::string& program = DefaultProgram());
  static std::string DefaultProgram();
  // The text of the next message box of that caption, answered with OK;
  // empty when none came.
  std::string AnswerBox(const char* caption = "Varnconf",
                        DWORD timeoutMs = 10000);
  int ExitCode(DWORD timeoutMs = 10000);

  HWND Control(HWND dialog, int id) { return GetDlgItem(dialog, id); }
  int Selection(int id);
  std::string ItemText(int id, int index);
  std::string SelectedText(int id);
  std::vector<std::string> Items(int id);
  // As a user's choice in the list: the selection, then its notification.
  void Choose(HWND dialog, int id, int index);
  // A click whose handler returns at once.
  void Click(HWND dialog, int id);
  // A click whose handler may wait or show a box: the test goes on.
  void Press(HWND dialog, int id);
  bool Visible(int id) { return IsWindowVisible(Control(main_, id)) != 0; }
  bool Enabled(int id) { return IsWindowEnabled(Control(main_, id)) != 0; }

  HANDLE process_ = nullptr;
  HWND main_ = nullptr;
};

}  // namespace varnconf_test
