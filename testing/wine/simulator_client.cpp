#include "testing/wine/simulator_client.h"

#include <ws2tcpip.h>

#include <cstdlib>

namespace wine {

SimulatorClient::SimulatorClient() {
  const char* address = std::getenv("SCANNER_SIM");
  if (address == nullptr) return;
  const std::string text(address);
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
  sockaddr_in target = {};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<u_short>(atoi(text.c_str() + colon + 1)));
  target.sin_addr.s_addr = inet_addr(text.substr(0, colon).c_str());
  socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket_ != INVALID_SOCKET &&
      connect(socket_, reinterpret_cast<sockaddr*>(&target), sizeof target) !=
          0) {
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }
}

SimulatorClient::~SimulatorClient() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  WSACleanup();
}

std::string SimulatorClient::Command(const std::string& line) {
  if (socket_ == INVALID_SOCKET) return "ERR no simulator";
  const std::string request = line + "\n";
  if (send(socket_, request.data(), static_cast<int>(request.size()), 0) !=
      static_cast<int>(request.size())) {
    return "ERR send failed";
  }
  for (;;) {
    const size_t end = buffered_.find('\n');
    if (end != std::string::npos) {
      std::string answer = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      if (answer.compare(0, 2, "OK") == 0) {
        return answer.size() > 3 ? answer.substr(3) : std::string();
      }
      return answer;
    }
    char chunk[4096];
    const int received = recv(socket_, chunk, sizeof chunk, 0);
    if (received <= 0) return "ERR connection lost";
    buffered_.append(chunk, static_cast<size_t>(received));
  }
}

void SimulatorClient::Pace(const std::string& port, int baud) {
  Command("PACE " + port + " " + std::to_string(baud));
}

void SimulatorClient::Feed(const std::string& port, const std::string& bytes) {
  Command("FEED " + port + " " + Hex(bytes));
}

std::string SimulatorClient::Written(const std::string& port, int waitMs,
                                     int count) {
  return Unhex(Command("WRITTEN " + port + " " + std::to_string(waitMs) + " " +
                       std::to_string(count)));
}

std::string SimulatorClient::Settings(const std::string& port) {
  return Command("SETTINGS " + port);
}

void SimulatorClient::Answer(const std::string& port,
                             const std::string& trigger,
                             const std::string& reply) {
  Command("ANSWER " + port + " " + Hex(trigger) + " " + Hex(reply));
}

void SimulatorClient::ClearAnswers(const std::string& port) {
  Command("ANSWER " + port + " CLEAR");
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : bytes) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 15]);
  }
  return hex;
}

std::string Unhex(const std::string& hex) {
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    const int high = digit(hex[i]);
    const int low = digit(hex[i + 1]);
    if (high < 0 || low < 0) return "<not hex: " + hex + ">";
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return bytes;
}

}  // namespace wine
