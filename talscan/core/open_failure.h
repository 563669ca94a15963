// What a failed opening step reports: its message, and the platform error
// whose system text the message carries (none for the steps that show the
// message alone).
#pragma once

#include <string>

#include "common/platform/platform_error.h"

struct OpenFailure {
  std::string message;
  PlatformError error;
};
