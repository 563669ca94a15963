// The test side of the scanner simulator (testing/sim/scanner_sim.py): a
// TCP connection to the address in SCANNER_SIM, one command a line.
#pragma once

#include <winsock2.h>

#include <string>

namespace wine {

class SimulatorClient {
 public:
  SimulatorClient();
  ~SimulatorClient();
  SimulatorClient(const SimulatorClient&) = delete;
  SimulatorClient& operator=(const SimulatorClient&) = delete;

  bool Connected() const { return socket_ != INVALID_SOCKET; }
  // The answer without its "OK "; throws nothing: an error answer comes
  // back as "ERR ...".
  std::string Command(const std::string& line);

  void OpenPort(const std::string& port) { Command("OPEN " + port); }
  void ClosePort(const std::string& port) { Command("CLOSE " + port); }
  void Pace(const std::string& port, int baud);
  void Feed(const std::string& port, const std::string& bytes);
  // What the driver wrote since the last call, waiting up to waitMs for at
  // least count bytes.
  std::string Written(const std::string& port, int waitMs = 0, int count = 0);
  std::string Settings(const std::string& port);
  void Answer(const std::string& port, const std::string& trigger,
              const std::string& reply);
  void ClearAnswers(const std::string& port);

 private:
  SOCKET socket_ = INVALID_SOCKET;
  std::string buffered_;
};

std::string Hex(const std::string& bytes);
std::string Unhex(const std::string& hex);

}  // namespace wine
