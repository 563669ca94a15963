// The test side of the virtual USB scanner (testing/usbsim): starts
// virtual_scanner.exe beside the running program, which plugs the scanner
// into the prefix, and talks to it one command a line over its standard
// input and output (the commands are listed in virtual_scanner.cpp). The
// scanner is unplugged and the program ended when this object goes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace wine {

class VirtualScanner {
 public:
  VirtualScanner();
  ~VirtualScanner();
  VirtualScanner(const VirtualScanner&) = delete;
  VirtualScanner& operator=(const VirtualScanner&) = delete;

  // "OK plugged", or what went wrong while plugging it in.
  const std::string& Started() const { return started_; }
  bool Plugged() const { return started_ == "OK plugged"; }

  // The answer line, "OK ..." or "ERR ...".
  std::string Command(const std::string& line);
  // A label with a one- or three-byte trailer in hex ("0D", "00180B").
  std::string Scan(const std::string& trailerHex, const std::string& label) {
    return Command("scan " + trailerHex + " " + label);
  }
  // The output reports written since the last call, as hex; waits up to
  // waitMs for at least count of them.
  std::vector<std::string> Outputs(int count = 0, int waitMs = 0);
  std::string Unplug() { return Command("unplug"); }
  std::string Plug() { return Command("plug"); }

 private:
  std::string ReadLine();

  HANDLE process_ = nullptr;
  HANDLE input_ = nullptr;   // our end of its standard input
  HANDLE output_ = nullptr;  // our end of its standard output
  std::string buffered_;
  std::string started_;
};

}  // namespace wine
