#include "varnconf/tests/wine/varnconf_driver.h"

#include "testing/wine/wine_support.h"

namespace varnconf_test {

const char kRoot[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner";
const char kMainTitle[] = "Ravelconf 1.9.1";

std::string Value(const std::string& device, const char* name,
                  REGSAM view) {
  const std::string path = std::string(kRoot) + "\\" + device;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | view,
                    &key) != ERROR_SUCCESS) {
    return "<missing>";
  }
  char data[1100] = {};
  DWORD size = sizeof data - 1;
  DWORD type = REG_NONE;
  const LONG status = RegQueryValueExA(key, name, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return "<missing>";
  std::string value(data, size);
  // The terminating NUL that reading a REG_SZ adds.
  if (type == REG_SZ && !value.empty() && value.back() == '\0') {
    value.pop_back();
  }
  return value;
}

HWND WaitForWindow(const char* title, DWORD timeoutMs) {
  HWND window = nullptr;
  // Shown once its initialisation has run.
  wine::PumpUntil(
      [&] {
        window = FindWindowA("#32770", title);
        return window != nullptr && IsWindowVisible(window);
      },
      timeoutMs);
  return window;
}

void VarnconfTest::SetUp() { wine::DeleteKeyTree(HKEY_LOCAL_MACHINE, kRoot); }

void VarnconfTest::TearDown() {
  if (process_ != nullptr) {
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
      if (main_) PostMessageA(main_, WM_COMMAND, IDCANCEL, 0);
      if (WaitForSingleObject(process_, 5000) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 1);
      }
    }
    CloseHandle(process_);
  }
  // The build's service object, also after a test that ran a copy of the
  // program from elsewhere (each start registers the library beside it).
  wine::RegisterLibrary(wine::ProgramFolder() + "TALSCAN.dll");
}

std::string VarnconfTest::DefaultProgram() {
  return wine::ProgramFolder() + "Varnconf.exe";
}

void VarnconfTest::Launch(const std::string& program) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::string line = "\"" + program + "\" any arguments";
  ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0,
                             nullptr, nullptr, &startup, &info));
  CloseHandle(info.hThread);
  process_ = info.hProcess;
}

void VarnconfTest::Start(const std::string& program) {
  Launch(program);
  main_ = WaitForWindow(kMainTitle);
  ASSERT_NE(main_, nullptr) << "the main dialog did not appear";
}

std::string VarnconfTest::AnswerBox(const char* caption, DWORD timeoutMs) {
  HWND box = WaitForWindow(caption, timeoutMs);
  if (box == nullptr) return "";
  char text[1024] = {};
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  wine::PumpUntil([&] { return !IsWindow(box); }, 5000);
  return text;
}

int VarnconfTest::ExitCode(DWORD timeoutMs) {
  DWORD code = 12345;
  if (WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process_, &code);
  }
  return static_cast<int>(code);
}

int VarnconfTest::Selection(int id) {
  return static_cast<int>(SendMessageA(Control(main_, id), CB_GETCURSEL, 0, 0));
}

// Asked for in UTF-16, which crosses between processes whatever the list
// keeps.
std::string VarnconfTest::ItemText(int id, int index) {
  WCHAR text[1100] = {};
  SendMessageW(Control(main_, id), CB_GETLBTEXT, index,
               reinterpret_cast<LPARAM>(text));
  char ansi[2200] = {};
  WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, sizeof ansi, nullptr,
                      nullptr);
  return ansi;
}

std::string VarnconfTest::SelectedText(int id) {
  const int index = Selection(id);
  return index < 0 ? "" : ItemText(id, index);
}

std::vector<std::string> VarnconfTest::Items(int id) {
  std::vector<std::string> items;
  const int count =
      static_cast<int>(SendMessageA(Control(main_, id), CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) items.push_back(ItemText(id, i));
  return items;
}

void VarnconfTest::Choose(HWND dialog, int id, int index) {
  SendMessageA(Control(dialog, id), CB_SETCURSEL, index, 0);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(Control(dialog, id)));
}

void VarnconfTest::Click(HWND dialog, int id) {
  SendMessageA(Control(dialog, id), BM_CLICK, 0, 0);
}

void VarnconfTest::Press(HWND dialog, int id) {
  PostMessageA(Control(dialog, id), BM_CLICK, 0, 0);
}

}  // namespace varnconf_test
