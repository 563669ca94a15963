#include "talscan/win32/win32_trace_files.h"

#include <shlobj.h>

#include <cctype>
#include <cstdio>

namespace {

PlatformError LastError(const char* step) {
  return PlatformError::Of(GetLastError(), step);
}

// A rotation that another process does not finish in this time is not
// waited for longer: the trace must never hold the till.
constexpr DWORD kRotationWaitMs = 2000;

// Mutex names cannot hold a backslash: the path's hash (FNV-1a, case
// folded as the file system folds it) names it.
std::string LockName(const char* scope, const std::string& path) {
  uint32_t hash = 2166136261u;
  for (char c : path) {
    hash = (hash ^ static_cast<uint8_t>(std::tolower(static_cast<uint8_t>(c)))) *
           16777619u;
  }
  char name[64];
  snprintf(name, sizeof name, "%s\\KorvaOposScannerTrace-%08X", scope, hash);
  return name;
}

}  // namespace

PlatformError Win32TraceFiles::CreateFolder(const std::string& folder) {
  const int result = SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
  if (result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS) return {};
  return PlatformError::Of(static_cast<uint32_t>(result), "SHCreateDirectoryEx");
}

PlatformError Win32TraceFiles::Append(const std::string& path,
                                      const std::string& bytes,
                                      uint64_t& size) {
  HANDLE file = CreateFileA(
      path.c_str(), FILE_APPEND_DATA,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError("CreateFile");
  DWORD written = 0;
  PlatformError error;
  LARGE_INTEGER length = {};
  if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                 &written, nullptr)) {
    error = LastError("WriteFile");
  } else if (!GetFileSizeEx(file, &length)) {
    error = LastError("GetFileSizeEx");
  }
  CloseHandle(file);
  size = static_cast<uint64_t>(length.QuadPart);
  return error;
}

uint64_t Win32TraceFiles::Size(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    return 0;
  }
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) |
         data.nFileSizeLow;
}

PlatformError Win32TraceFiles::Move(const std::string& from,
                                    const std::string& to) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return LastError("MoveFileEx");
  }
  return {};
}

// Per path and thread: each rotation gives back its own lock.
std::string Win32TraceFiles::LockKey(const std::string& path) {
  return path + "|" + std::to_string(GetCurrentThreadId());
}

// Global, so that a service and a desktop application share it; where the
// session may not make a global object, the session's own.
void Win32TraceFiles::LockRotation(const std::string& path) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, LockName("Global", path).c_str());
  if (mutex == nullptr) {
    mutex = CreateMutexA(nullptr, FALSE, LockName("Local", path).c_str());
  }
  if (mutex == nullptr) return;  // rotated without the lock, then
  const DWORD waited = WaitForSingleObject(mutex, kRotationWaitMs);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return;
  }
  std::lock_guard<std::mutex> lock(locksMutex_);
  locks_[LockKey(path)] = mutex;
}

void Win32TraceFiles::UnlockRotation(const std::string& path) {
  HANDLE mutex = nullptr;
  {
    std::lock_guard<std::mutex> lock(locksMutex_);
    const auto found = locks_.find(LockKey(path));
    if (found == locks_.end()) return;
    mutex = found->second;
    locks_.erase(found);
  }
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

// The Application event log, and a debugger's output.
void Win32TraceFiles::Report(const std::string& text) {
  OutputDebugStringA(("TALSCAN: " + text + "\n").c_str());
  HANDLE log = RegisterEventSourceA(nullptr, "TALSCAN");
  if (log == nullptr) return;
  const char* strings[] = {text.c_str()};
  ReportEventA(log, EVENTLOG_WARNING_TYPE, 0, 0, nullptr, 1, 0, strings,
               nullptr);
  DeregisterEventSource(log);
}

std::string Win32TraceFiles::ProgramData() {
  char folder[MAX_PATH] = {};
  if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0,
                                 folder))) {
    return folder;
  }
  const DWORD length = GetEnvironmentVariableA("ProgramData", folder, MAX_PATH);
  return length > 0 && length < MAX_PATH ? folder : "C:\\ProgramData";
}

uint32_t Win32TraceFiles::CurrentThreadId() { return GetCurrentThreadId(); }

std::string Win32TraceFiles::ProcessDescription() {
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  return "process " + std::string(program) + ", id " +
         std::to_string(GetCurrentProcessId());
}

std::string Win32TraceFiles::LibraryDescription() {
  char library[MAX_PATH] = {};
  GetModuleFileNameA(module_, library, MAX_PATH);
  std::string version = "(no version)";
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(library, &ignored);
  std::string info(size, '\0');
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (size > 0 && GetFileVersionInfoA(library, 0, size, &info[0]) &&
      VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed),
                     &fixedSize) &&
      fixed != nullptr) {
    version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
              std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
              std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
              std::to_string(LOWORD(fixed->dwFileVersionLS));
  }
  return std::string(library) + " " + version + ", " +
         (sizeof(void*) == 8 ? "64-bit" : "32-bit");
}
