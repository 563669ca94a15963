// System error numbers the portable code needs to recognise or report.
// They are the platform's own numbers, as every platform implementation
// returns them.
#pragma once

#include <cstdint>

namespace syserr {
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kInvalidHandle = 6;
}  // namespace syserr
