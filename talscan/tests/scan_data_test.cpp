// Label decoding: code letters and their length thresholds, the code
// identifiers of each compatibility mode, binary conversion and DecodeData.
#include <gtest/gtest.h>

#include <string>

#include "talscan/core/scan_data.h"

namespace {

ScanResult Build(const std::string& frame, long mode = 0, long conversion = 0,
                 bool decode = true) {
  ScanResult result;
  BuildScanData(reinterpret_cast<const uint8_t*>(frame.data()), frame.size(),
                {mode, conversion, decode}, result);
  return result;
}

long TypeOf(const std::string& frame) { return Build(frame).ScanDataType; }

TEST(ScanData, UpcAndEanTypesDependOnTheFrameLength) {
  EXPECT_EQ(TypeOf("A" + std::string(12, '1')), 101);
  EXPECT_EQ(TypeOf("A" + std::string(13, '1')), 101) << "14 bytes";
  EXPECT_EQ(TypeOf("A" + std::string(14, '1')), 111);
  EXPECT_EQ(TypeOf("E" + std::string(8, '1')), 102);
  EXPECT_EQ(TypeOf("E" + std::string(9, '1')), 102) << "10 bytes";
  EXPECT_EQ(TypeOf("E" + std::string(10, '1')), 112);
  EXPECT_EQ(TypeOf("FF" + std::string(8, '1')), 103);
  EXPECT_EQ(TypeOf("FF" + std::string(9, '1')), 103) << "11 bytes";
  EXPECT_EQ(TypeOf("FF" + std::string(10, '1')), 118);
  EXPECT_EQ(TypeOf("F" + std::string(13, '1')), 104);
  EXPECT_EQ(TypeOf("F" + std::string(14, '1')), 104) << "15 bytes";
  EXPECT_EQ(TypeOf("F" + std::string(15, '1')), 119);
}

TEST(ScanData, OtherLettersHaveFixedTypes) {
  EXPECT_EQ(TypeOf("I0123"), 106);
  EXPECT_EQ(TypeOf("N0123"), 107);
  EXPECT_EQ(TypeOf("M0123"), 108);
  EXPECT_EQ(TypeOf("L0123"), 109);
  EXPECT_EQ(TypeOf("K0123"), 110);
  EXPECT_EQ(TypeOf("G0123"), 501);
  EXPECT_EQ(TypeOf("H0123"), 501);
  EXPECT_EQ(TypeOf("P0123"), 501);
  for (const char* unknown : {"B0123", "C0123", "D0123", "J0123", "O0123",
                              "a0123", "0123", "\x00" "1"}) {
    EXPECT_EQ(TypeOf(unknown), 0) << unknown;
  }
}

TEST(ScanData, PrefixLettersLeaveTheLabel) {
  ScanResult ean8 = Build("FF12345670");
  EXPECT_EQ(ean8.ScanDataLabel, "12345670");
  EXPECT_EQ(ean8.ScanData, "FF12345670");
  ScanResult loneF = Build("F");
  EXPECT_EQ(loneF.ScanDataType, 104) << "the NUL after F is not a second F";
  EXPECT_EQ(loneF.ScanDataLabel, "");
  ScanResult unknown = Build("D1234");
  EXPECT_EQ(unknown.ScanDataLabel, "D1234");
  EXPECT_EQ(unknown.ScanData, "D1234");
}

TEST(ScanData, CodeIdentifiersReplaceTheLettersInModesOneToThree) {
  const std::string frames[] = {"A012345678905", "E01234565", "FF12345670",
                                "F4006381333931", "I1234", "N1234", "M1234",
                                "L1234", "K1234"};
  const char* expected[3][9] = {
      {"c", "d", "g", "h", "e", "a", "b", "i", "j"},
      {"A", "C", "B", "A", "I", "N", "M", "L", "K"},
      {"A", "A", "A", "A", "F", "C", "B", "E", "D"},
  };
  for (long mode = 1; mode <= 3; ++mode) {
    for (int i = 0; i < 9; ++i) {
      const ScanResult result = Build(frames[i], mode);
      const std::string label = Build(frames[i]).ScanDataLabel;
      EXPECT_EQ(result.ScanData, expected[mode - 1][i] + label)
          << "mode " << mode << " frame " << frames[i];
      EXPECT_EQ(result.ScanDataLabel, label);
    }
  }
}

TEST(ScanData, NativeLettersStayInModeZeroKvxAndForOtherSymbologies) {
  EXPECT_EQ(Build("A012345678905", 0).ScanData, "A012345678905");
  EXPECT_EQ(Build("A012345678905", 4).ScanData, "A012345678905");
  EXPECT_EQ(Build("K1234", 4).ScanData, "K1234");
  EXPECT_EQ(Build("G1234", 2).ScanData, "G1234");
  EXPECT_EQ(Build("D1234", 3).ScanData, "D1234");
  EXPECT_EQ(Build("A012345678905", 7).ScanData, "A012345678905");
  EXPECT_EQ(Build("A012345678905", -1).ScanData, "A012345678905");
  EXPECT_EQ(Build("K1234", 3).ScanData, "D1234");
}

TEST(ScanData, BinaryConversionAppliesToPrefixAndLabel) {
  ScanResult nibbles = Build("K12", 0, 1);
  EXPECT_EQ(nibbles.ScanDataLabel, "3132");
  EXPECT_EQ(nibbles.ScanData, "4;3132");
  ScanResult decimal = Build("K12", 0, 2);
  EXPECT_EQ(decimal.ScanDataLabel, "049050");
  EXPECT_EQ(decimal.ScanData, "075049050");
  EXPECT_EQ(Build(std::string("P\xC8", 2), 0, 2).ScanDataLabel, "200");
  EXPECT_EQ(Build(std::string("P\xC8", 2), 0, 1).ScanDataLabel, "<8");
  EXPECT_EQ(Build(std::string("P\x00\xFF", 3), 0, 99).ScanDataLabel, "000255");
  EXPECT_EQ(Build("K12", 3, 1).ScanData, "443132") << "code identifier D";
}

TEST(ScanData, LongestConversionIsKeptWhole) {
  const std::string frame = "P" + std::string(127, '\xFF');
  ScanResult result = Build(frame, 0, 2);
  EXPECT_EQ(result.ScanData.size(), 3u * 128);
  EXPECT_LE(result.ScanData.size(), kMaxScanDataLength);
  EXPECT_EQ(result.ScanDataLabel.size(), 3u * 127);
}

TEST(ScanData, DecodeDataOffKeepsOnlyScanData) {
  ScanResult result = Build("A012345678905", 1, 0, false);
  EXPECT_EQ(result.ScanData, "c012345678905");
  EXPECT_EQ(result.ScanDataLabel, "");
  EXPECT_EQ(result.ScanDataType, 0);
}

TEST(ScanData, TimeStampIsPartOfThePrefixAndNotOfTheLength) {
  const std::string stamp = "T061608090507";
  ScanResult result = Build(stamp + "A012345678905");
  EXPECT_EQ(result.ScanDataType, 101) << "26 bytes, still a plain UPC-A";
  EXPECT_EQ(result.ScanDataLabel, "012345678905");
  EXPECT_EQ(result.ScanData, stamp + "A012345678905");
  EXPECT_EQ(Build(stamp + "A012345678905", 1).ScanData, "c012345678905");
  ScanResult shortStamp = Build("T0616");
  EXPECT_EQ(shortStamp.ScanDataType, 0);
  EXPECT_EQ(shortStamp.ScanDataLabel, "");
  EXPECT_EQ(shortStamp.ScanData, "T0616");
}

TEST(ScanData, EmptyFrameGivesEmptyData) {
  ScanResult result = Build("");
  EXPECT_EQ(result.ScanDataType, 0);
  EXPECT_EQ(result.ScanData, "");
}

}  // namespace
