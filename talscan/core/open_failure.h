// What a failed opening step reports: its message, and the system error
// number when the message is to carry the system's text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct OpenFailure {
  std::string message;
  std::optional<uint32_t> systemError;
};
