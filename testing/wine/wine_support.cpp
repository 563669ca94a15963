#include "testing/wine/wine_support.h"

#include <set>

#include "common/com/automation.h"

namespace wine {

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH - 1);
  std::string folder(path);
  folder.erase(folder.find_last_of('\\') + 1);
  return folder;
}

HRESULT RegisterLibrary(const std::string& path) {
  HMODULE library = LoadLibraryA(path.c_str());
  if (library == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  auto registerServer =
      Export<HRESULT(WINAPI*)()>(library, "DllRegisterServer");
  const HRESULT hr = registerServer ? registerServer() : E_NOINTERFACE;
  FreeLibrary(library);
  return hr;
}

int RunProgram(const std::string& commandLine, DWORD timeoutMs) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return -1;
  }
  CloseHandle(process.hThread);
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    TerminateProcess(process.hProcess, 1);
  }
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

EntryValue Text(const std::string& name, const std::string& value) {
  return {name, REG_SZ, value};
}

EntryValue Dword(const std::string& name, DWORD value) {
  return {name, REG_DWORD,
          std::string(reinterpret_cast<const char*>(&value), sizeof value)};
}

void WriteDeviceEntry(const std::string& device,
                      const std::vector<EntryValue>& values, REGSAM view) {
  const std::string path =
      "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\" + device;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                      KEY_ALL_ACCESS | view, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  for (const EntryValue& value : values) {
    RegSetValueExA(key, value.name.c_str(), 0, value.type,
                   reinterpret_cast<const BYTE*>(value.data.data()),
                   static_cast<DWORD>(value.data.size()));
  }
  RegCloseKey(key);
}

void WriteStandardEntry(const std::string& device, const std::string& type,
                        const std::string& port,
                        const std::string& compatibility, DWORD debugLevel) {
  static const unsigned char kConfiguration[20] = {
      0x40, 0x06, 0x40, 0x01, 0x40, 0x06, 0x40, 0x06, 0xC0, 0x3F,
      0x04, 0x00, 0x00, 0x00, 0x43, 0x4F, 0x00, 0x00, 0x00, 0x00};
  DeleteKeyTree(HKEY_LOCAL_MACHINE,
                "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\" + device);
  WriteDeviceEntry(
      device,
      {Text("", "TALSCAN.ScannerSO"), Dword("AutoScan", 0),
       Text("Compatibility", compatibility),
       {"Configuration", REG_BINARY,
        std::string(reinterpret_cast<const char*>(kConfiguration), 20)},
       Text("Description", "OPOS Scanner Driver, Release 2008 ."),
       Text("Port", port), Text("Service", ProgramFolder() + "TALSCAN.dll"),
       Text("Type", type), Text("UserID", "00000000"), Text("Version", "1.9.0"),
       Dword("DebugLevel", debugLevel)});
}

void DeleteKeyTree(HKEY root, const std::string& path, REGSAM view) {
  const size_t slash = path.find_last_of('\\');
  const std::string parent =
      slash == std::string::npos ? "" : path.substr(0, slash);
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, parent.c_str(), 0, KEY_ALL_ACCESS | view, &key) !=
      ERROR_SUCCESS) {
    return;
  }
  RegDeleteTreeA(key, path.substr(slash + 1).c_str());
  RegCloseKey(key);
}

std::string DefaultValue(HKEY root, const std::string& path, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) !=
      ERROR_SUCCESS) {
    return "<missing>";
  }
  char value[1024] = {};
  DWORD size = sizeof value - 1;
  const LONG status = RegQueryValueExA(
      key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? value : "<missing>";
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE,
                              static_cast<DWORD>(std::min<ULONGLONG>(
                                  deadline - now, 10)),
                              QS_ALLINPUT);
  }
}

Dispatch::~Dispatch() { Reset(nullptr); }

void Dispatch::Reset(IDispatch* object) {
  if (object_) object_->Release();
  object_ = object;
}

Dispatch Dispatch::Create(const wchar_t* progID) {
  CLSID clsid;
  IDispatch* object = nullptr;
  if (SUCCEEDED(CLSIDFromProgID(progID, &clsid))) {
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                     reinterpret_cast<void**>(&object));
  }
  return Dispatch(object);
}

DISPID Dispatch::Id(const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names = const_cast<LPOLESTR>(name);
  object_->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &id);
  return id;
}

HRESULT Dispatch::Invoke(DISPID id, WORD flags, std::vector<VARIANT> args,
                         VARIANT* result, UINT* argError) {
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                       static_cast<UINT>(reversed.size()), 0};
  if (flags & DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  if (result) VariantInit(result);
  UINT ignored = 0;
  return object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                         result, nullptr, argError ? argError : &ignored);
}

namespace {

// A call's text result, or "<failed>".
std::string TakeText(HRESULT hr, VARIANT& result) {
  std::string text = "<failed>";
  if (SUCCEEDED(hr) && V_VT(&result) == VT_BSTR) {
    text = com::ToAnsi(V_BSTR(&result));
  }
  VariantClear(&result);
  return text;
}

}  // namespace

long Dispatch::CallLong(const wchar_t* name, std::vector<VARIANT> args) {
  VARIANT result;
  if (FAILED(Invoke(Id(name), DISPATCH_METHOD, std::move(args), &result))) {
    return -1;
  }
  return com::TakeLong(result);
}

std::string Dispatch::CallString(const wchar_t* name,
                                 std::vector<VARIANT> args) {
  VARIANT result;
  const HRESULT hr = Invoke(Id(name), DISPATCH_METHOD, std::move(args), &result);
  return TakeText(hr, result);
}

long Dispatch::GetLong(DISPID id) {
  VARIANT result;
  if (FAILED(Invoke(id, DISPATCH_PROPERTYGET, {}, &result))) return -1;
  return com::TakeLong(result);
}

std::string Dispatch::GetString(DISPID id) {
  VARIANT result;
  const HRESULT hr = Invoke(id, DISPATCH_PROPERTYGET, {}, &result);
  return TakeText(hr, result);
}

HRESULT Dispatch::PutLong(DISPID id, long value) {
  return Invoke(id, DISPATCH_PROPERTYPUT, {Long(value)});
}

HRESULT Dispatch::PutBool(DISPID id, bool value) {
  return Invoke(id, DISPATCH_PROPERTYPUT, {com::BoolVariant(value)});
}

VARIANT Long(long value) { return com::LongVariant(value); }

VARIANT Bstr(const std::string& text) {
  VARIANT variant;
  VariantInit(&variant);
  V_VT(&variant) = VT_BSTR;
  V_BSTR(&variant) = com::ToBstr(text);
  return variant;
}

VARIANT DispatchVariant(IDispatch* object) {
  VARIANT variant;
  VariantInit(&variant);
  V_VT(&variant) = VT_DISPATCH;
  V_DISPATCH(&variant) = object;
  return variant;
}

namespace {

struct Search {
  DWORD process;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectBoxes(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  if (process == search->process && std::string(className) == "#32770" &&
      IsWindowVisible(window)) {
    search->found.push_back(window);
  }
  return TRUE;
}

BOOL CALLBACK FindStaticText(HWND child, LPARAM parameter) {
  auto* text = reinterpret_cast<std::string*>(parameter);
  char className[16] = {};
  GetClassNameA(child, className, sizeof className);
  if (_stricmp(className, "Static") != 0) return TRUE;
  char buffer[2048] = {};
  GetWindowTextA(child, buffer, sizeof buffer);
  if (buffer[0] == 0) return TRUE;
  *text = buffer;
  return FALSE;
}

}  // namespace

BoxAnswerer::BoxAnswerer() : thread_([this] { Run(); }) {}

BoxAnswerer::~BoxAnswerer() {
  stop_ = true;
  thread_.join();
}

void BoxAnswerer::Run() {
  std::set<HWND> answered;
  while (!stop_) {
    Search search = {GetCurrentProcessId(), {}};
    EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&search));
    std::set<HWND> present(search.found.begin(), search.found.end());
    for (auto it = answered.begin(); it != answered.end();) {
      it = present.count(*it) ? std::next(it) : answered.erase(it);
    }
    for (HWND window : search.found) {
      if (answered.count(window)) continue;
      Box box;
      char caption[512] = {};
      GetWindowTextA(window, caption, sizeof caption);
      box.caption = caption;
      char text[2048] = {};
      if (GetDlgItemTextA(window, 0xFFFF, text, sizeof text) > 0) {
        box.text = text;
      } else {
        EnumChildWindows(window, FindStaticText,
                         reinterpret_cast<LPARAM>(&box.text));
      }
      std::function<void(const Box&)> handler;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back(box);
        handler = handler_;
      }
      if (handler) handler(box);
      answered.insert(window);
      PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
    }
    Sleep(20);
  }
}

std::vector<BoxAnswerer::Box> BoxAnswerer::Boxes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

bool BoxAnswerer::WaitForBoxes(size_t count, DWORD timeoutMs) {
  return PumpUntil([&] { return Boxes().size() >= count; }, timeoutMs);
}

void BoxAnswerer::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  boxes_.clear();
}

void BoxAnswerer::BeforeAnswer(std::function<void(const Box&)> handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handler_ = std::move(handler);
}

}  // namespace wine
