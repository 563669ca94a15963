// Code 128 symbol values to text: start codes, code set switches, the
// shift, function values and values outside a set.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "talscan/core/code128.h"

namespace {

std::string Expand(std::vector<int> values) {
  std::vector<uint8_t> bytes(values.begin(), values.end());
  char text[kMaxCode128Text + 1];
  const int length =
      ExpandCode128(bytes.data(), static_cast<int>(bytes.size()), text);
  EXPECT_EQ(text[length], 0) << "a NUL after the text";
  return std::string(text, length);
}

TEST(Code128, StartCodesSelectTheCodeSet) {
  EXPECT_EQ(Expand({104, 33, 34}), "AB");
  EXPECT_EQ(Expand({105, 12, 34}), "1234");
  EXPECT_EQ(Expand({103, 33, 34}), "AB");
  EXPECT_EQ(Expand({103, 64, 95}), std::string("\x00\x1F", 2));
  EXPECT_EQ(Expand({104, 64, 95}), "`\x7F");
  EXPECT_EQ(Expand({105, 0, 5, 99}), "000599");
}

TEST(Code128, NothingWithoutAStartCode) {
  EXPECT_EQ(Expand({}), "");
  EXPECT_EQ(Expand({33, 34}), "");
  EXPECT_EQ(Expand({102, 33}), "");
  EXPECT_EQ(Expand({106, 33}), "");
  char text[kMaxCode128Text + 1] = "kept";
  const uint8_t start = 104;
  EXPECT_EQ(ExpandCode128(&start, -1, text), 0);
  EXPECT_EQ(text[0], 0);
}

TEST(Code128, ShiftReadsOneValueInTheOtherSet) {
  EXPECT_EQ(Expand({103, 98, 65}), "a");
  EXPECT_EQ(Expand({103, 98, 65, 65}), "a\x01") << "the set returns";
  EXPECT_EQ(Expand({104, 98, 65, 65}), "\x01" "a");
  EXPECT_EQ(Expand({105, 98}), "98") << "98 is data in set C";
}

TEST(Code128, CodeSwitchesFollowTheSet) {
  EXPECT_EQ(Expand({104, 33, 99, 12, 34, 100, 33}), "A1234A");
  EXPECT_EQ(Expand({105, 12, 101, 65, 100, 65}), "12\x01" "a");
  EXPECT_EQ(Expand({103, 100, 65}), "a");
  EXPECT_EQ(Expand({104, 101, 65}), "\x01");
}

TEST(Code128, FunctionValuesProduceNothing) {
  EXPECT_EQ(Expand({104, 96, 97, 100, 102, 33}), "A") << "100 is FNC4 in B";
  EXPECT_EQ(Expand({103, 96, 97, 101, 102, 33}), "A") << "101 is FNC4 in A";
  EXPECT_EQ(Expand({105, 102, 12}), "12");
}

TEST(Code128, ValuesOutsideTheSetProduceNothing) {
  EXPECT_EQ(Expand({104, 103, 200, 255, 33}), "A");
  EXPECT_EQ(Expand({105, 103, 104, 255, 1}), "01");
}

TEST(Code128, TextNeverExceedsItsBound) {
  std::vector<int> values(128, 99);
  values[0] = 105;
  EXPECT_EQ(Expand(values).size(), 254u) << "127 values in set C";
  values.resize(300, 42);
  EXPECT_EQ(Expand(values).size(), static_cast<size_t>(kMaxCode128Text));
}

}  // namespace
