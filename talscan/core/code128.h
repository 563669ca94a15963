// Code 128 symbol values (as a portable scanner stores them) turned into
// the text they encode.
#pragma once

#include <cstddef>
#include <cstdint>

// At most this many characters come out: 127 values in code set C.
constexpr int kMaxCode128Text = 255;

// Writes what `count` symbol values encode, starting with their start code
// (103, 104 or 105 for code set A, B or C), to `text` with a NUL after it
// and returns its length: 0 for a count of 0 or less or another first
// value. Text beyond the bound is not written.
int ExpandCode128(const uint8_t* values, int count,
                  char (&text)[kMaxCode128Text + 1]);
