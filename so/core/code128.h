// Code 128 symbol values (as a portable scanner stores them) turned into
// the text they encode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// At most this many characters come out: 127 values in code set C.
constexpr size_t kMaxCode128Text = 255;

// Appends to `text` what `count` symbol values encode, starting with their
// start code (103, 104 or 105 for code set A, B or C). Nothing is appended
// for a count of 0 or less or another first value.
void ExpandCode128(const uint8_t* values, int count, std::string& text);
