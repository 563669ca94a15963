#include "testing/wine/virtual_scanner_client.h"

#include <sstream>

#include "testing/wine/wine_support.h"

namespace wine {

namespace {

// Plugging in and unplugging wait for the device to settle; a program that
// does not answer by then is stuck.
constexpr DWORD kEndWaitMs = 30000;
constexpr DWORD kAnswerWaitMs = 30000;

}  // namespace

VirtualScanner::VirtualScanner() {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE childInput = nullptr, childOutput = nullptr;
  if (!CreatePipe(&childInput, &input_, &inherit, 0) ||
      !CreatePipe(&output_, &childOutput, &inherit, 0)) {
    started_ = "ERR CreatePipe failed";
    return;
  }
  SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = childInput;
  startup.hStdOutput = childOutput;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  std::string line = "\"" + ProgramFolder() + "virtual_scanner.exe\"";
  const BOOL created = CreateProcessA(nullptr, &line[0], nullptr, nullptr,
                                      TRUE, 0, nullptr, nullptr, &startup,
                                      &process);
  CloseHandle(childInput);
  CloseHandle(childOutput);
  if (!created) {
    started_ = "ERR CreateProcess failed: " + std::to_string(GetLastError());
    return;
  }
  CloseHandle(process.hThread);
  process_ = process.hProcess;
  started_ = ReadLine();
}

VirtualScanner::~VirtualScanner() {
  if (input_ != nullptr) CloseHandle(input_);  // the end of its input: quit
  if (process_ != nullptr) {
    if (WaitForSingleObject(process_, kEndWaitMs) != WAIT_OBJECT_0) {
      TerminateProcess(process_, 1);
    }
    CloseHandle(process_);
  }
  if (output_ != nullptr) CloseHandle(output_);
}

std::string VirtualScanner::ReadLine() {
  for (;;) {
    const size_t end = buffered_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    // Looked at before it is read, so that a program that hangs fails the
    // test instead of holding it.
    DWORD ready = 0;
    for (const DWORD start = GetTickCount(); ready == 0; Sleep(10)) {
      if (!PeekNamedPipe(output_, nullptr, 0, nullptr, &ready, nullptr)) {
        return "ERR the virtual scanner ended";
      }
      if (ready == 0 && GetTickCount() - start >= kAnswerWaitMs) {
        return "ERR the virtual scanner did not answer";
      }
    }
    char chunk[256];
    DWORD got = 0;
    if (!ReadFile(output_, chunk, sizeof chunk, &got, nullptr) || got == 0) {
      return "ERR the virtual scanner ended";
    }
    buffered_.append(chunk, got);
  }
}

std::string VirtualScanner::Command(const std::string& line) {
  if (process_ == nullptr) return started_;
  const std::string text = line + "\n";
  DWORD written = 0;
  if (!WriteFile(input_, text.data(), static_cast<DWORD>(text.size()),
                 &written, nullptr)) {
    return "ERR the virtual scanner ended";
  }
  return ReadLine();
}

std::vector<std::string> VirtualScanner::Outputs(int count, int waitMs) {
  std::istringstream words(Command("outputs " + std::to_string(count) + " " +
                                   std::to_string(waitMs)));
  std::vector<std::string> reports;
  std::string word;
  words >> word;  // OK
  while (words >> word) reports.push_back(word);
  return reports;
}

}  // namespace wine
