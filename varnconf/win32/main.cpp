// Varnconf.exe: the administrator's program for this driver's scanner
// entries. The dialogs only map messages to the logic of varnconf/core and
// its view to the controls.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <memory>
#include <string>
#include <vector>

#include "varnconf/core/device_config.h"
#include "varnconf/core/device_lists.h"
#include "varnconf/core/scanner_check.h"
#include "varnconf/core/service_registration.h"
#include "common/registry/mirrored_registry.h"
#include "common/registry/win32/win32_registry.h"
#include "varnconf/win32/dialog_controls.h"
#include "varnconf/win32/new_device_dialog.h"
#include "varnconf/win32/opos_scanner_control.h"
#include "varnconf/win32/resource.h"
#include "varnconf/win32/scanner_test_window.h"
#include "varnconf/win32/win32_main_view.h"

namespace {

// The control object's DataEvent, as a message to the main dialog.
constexpr UINT kDataEventMessage = WM_APP + 1;

class Win32ServiceLibrary : public ServiceLibrary {
 public:
  bool CanRead(const std::string& path) override {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
  }
  bool Register(const std::string& path) override {
    HMODULE library = LoadLibraryA(path.c_str());
    if (library == nullptr) return false;
    using Entry = HRESULT(WINAPI*)();
    auto registerServer = reinterpret_cast<Entry>(
        reinterpret_cast<void*>(GetProcAddress(library, "DllRegisterServer")));
    if (registerServer != nullptr) registerServer();  // its answer is not used
    FreeLibrary(library);
    return registerServer != nullptr;
  }
};

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND &&
      (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

// The device entries: on 64-bit Windows every write and delete goes to
// the 64-bit view as well, so that 64-bit applications see the same
// entries; reading stays in this program's own, 32-bit, view.
struct EntryRegistry {
  reg::Win32Registry own;
  reg::Win32Registry view64{reg::View::k64Bit};
  reg::MirroredRegistry both{own, view64};
  reg::Registry& Get() {
    return reg::RunsUnderWow64() ? static_cast<reg::Registry&>(both) : own;
  }
};

// Everything the main dialog keeps for its life.
struct MainDialog {
  HINSTANCE instance = nullptr;
  std::string servicePath;
  EntryRegistry registry;
  std::unique_ptr<Win32MainView> view;
  std::unique_ptr<DeviceConfig> config;
  std::unique_ptr<OposScannerControl> control;
  std::unique_ptr<ScannerTestWindow> scannerTest;
  std::unique_ptr<ScannerCheck> check;
  HFONT instructionFont = nullptr;
  HFONT headingFont = nullptr;
};

void StartUp(HWND dialog, MainDialog& main) {
  FillList(dialog, IDC_SCANNER_TYPE, lists::kScannerTypes);
  FillList(dialog, IDC_PORT, lists::kPorts);
  FillList(dialog, IDC_COMPATIBILITY, lists::kCompatibilityModes);

  char menuText[256] = {};
  if (LoadStringA(main.instance, IDS_ABOUT_MENU, menuText, sizeof menuText) >
      0) {
    HMENU menu = GetSystemMenu(dialog, FALSE);
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, IDM_ABOUT, menuText);
  }
  HICON icon = LoadIconA(main.instance, MAKEINTRESOURCEA(IDI_MAIN));
  SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

  main.servicePath = ServicePath(ProgramPath());
  Win32ServiceLibrary library;
  std::string failure;
  if (!RegisterServiceObject(library, main.servicePath, failure)) {
    MessageBoxA(dialog, failure.c_str(), ApplicationName().c_str(), MB_OK);
    ExitProcess(0);
  }

  // The control object lives as long as the dialog; a machine without it
  // still configures its entries.
  main.control = OposScannerControl::Create(dialog, kDataEventMessage);
  main.headingFont = ArialBlack(26);
  main.scannerTest = std::make_unique<ScannerTestWindow>(
      main.instance, dialog, main.headingFont,
      [&main] { main.check->CloseTest(); });

  main.view = std::make_unique<Win32MainView>(dialog);
  main.config = std::make_unique<DeviceConfig>(main.registry.Get(), *main.view,
                                               main.servicePath);
  main.check = std::make_unique<ScannerCheck>(
      *main.config, *main.view, *main.scannerTest, main.control.get());
  main.instructionFont = ArialBlack(20);
  for (int id :
       {IDC_SELECT_DEVICE_TEXT, IDC_SELECT_TYPE_TEXT, IDC_SELECT_PORT_TEXT}) {
    SendDlgItemMessageA(dialog, id, WM_SETFONT,
                        reinterpret_cast<WPARAM>(main.instructionFont), TRUE);
  }
  main.config->StartUp();
}

void Command(HWND dialog, MainDialog& main, int id, int code) {
  DeviceConfig& config = *main.config;
  const bool quitting = id == IDC_QUIT || id == IDOK || id == IDCANCEL;
  if (main.check->Busy() && !quitting) return;
  switch (id) {
    case IDC_DEVICE_LIST:
      if (code == CBN_SELCHANGE) config.LoadSelectedDevice();
      break;
    case IDC_SCANNER_TYPE:
      if (code == CBN_SELCHANGE) config.ApplyTypeRules();
      break;
    case IDC_PORT:
    case IDC_COMPATIBILITY:
      if (code == CBN_SELCHANGE) config.WriteDeviceEntry();
      break;
    case IDC_AUTOSCAN:
      if (code == BN_CLICKED) config.WriteDeviceEntry();
      break;
    case IDC_NEW: {
      NewDevice chosen;
      if (RunNewDeviceDialog(main.instance, dialog, chosen)) {
        config.AddDevice(chosen);
      }
      break;
    }
    case IDC_DELETE: config.DeleteSelectedDevice(); break;
    case IDC_SETUP_SCANNER: main.check->SetupScanner(); break;
    case IDC_TEST_DEVICE: main.check->TestDevice(); break;
    case IDC_QUIT:
    case IDOK:
    case IDCANCEL:
      if (main.check->ReadyToQuit()) DestroyWindow(dialog);
      break;
  }
}

INT_PTR CALLBACK MainProc(HWND dialog, UINT message, WPARAM wParam,
                          LPARAM lParam) {
  auto* main =
      reinterpret_cast<MainDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      StartUp(dialog, *reinterpret_cast<MainDialog*>(lParam));
      return TRUE;
    case WM_COMMAND:
      if (main && main->config)
        Command(dialog, *main, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case kDataEventMessage:
      if (main && main->check) main->check->OnDataEvent();
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == IDM_ABOUT) {
        DialogBoxParamA(main->instance, MAKEINTRESOURCEA(IDD_ABOUT), dialog,
                        AboutProc, 0);
        return TRUE;
      }
      return FALSE;
    case WM_CTLCOLORSTATIC: {
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      if (id == IDC_SELECT_DEVICE_TEXT || id == IDC_SELECT_TYPE_TEXT ||
          id == IDC_SELECT_PORT_TEXT) {
        return BlueText(reinterpret_cast<HDC>(wParam));
      }
      return FALSE;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return TRUE;
  }
  return FALSE;
}

}  // namespace

// The main dialog is modeless with a loop of its own, so that the Scanner
// Test window beside it gets its keyboard (Enter, Escape) too.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  MainDialog main;
  main.instance = instance;
  HWND dialog =
      CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                         MainProc, reinterpret_cast<LPARAM>(&main));
  int exitCode = 1;
  if (dialog != nullptr) {
    ShowWindow(dialog, SW_SHOW);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      if (main.scannerTest &&
          IsDialogMessageA(main.scannerTest->Handle(), &message)) {
        continue;
      }
      if (IsDialogMessageA(dialog, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    exitCode = 0;
  }
  main.check.reset();
  main.control.reset();
  if (main.instructionFont != nullptr) DeleteObject(main.instructionFont);
  if (main.headingFont != nullptr) DeleteObject(main.headingFont);
  CoUninitialize();
  return exitCode;
}
