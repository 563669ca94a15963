// Decoding the USB scanner's input reports: every trailer, the bounds on
// L, and reports too short to carry a label.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/hid/hid_report.h"

namespace {

using hid::Trailers;

// A 65-byte report whose data start at byte 5 and whose trailer ends at L.
std::vector<uint8_t> Report(const std::string& data,
                            const std::vector<uint8_t>& trailer) {
  std::vector<uint8_t> report(hid::kInputReportSize, 0xEE);
  report[0] = 0;
  const int last = 5 + static_cast<int>(data.size() + trailer.size()) - 1;
  report[1] = static_cast<uint8_t>(last);
  std::copy(data.begin(), data.end(), report.begin() + 5);
  std::copy(trailer.begin(), trailer.end(), report.begin() + 5 + data.size());
  return report;
}

std::string Decode(const std::vector<uint8_t>& report,
                   Trailers trailers = Trailers::kServiceObject,
                   int count = -1) {
  uint8_t label[hid::kMaxReportLabel];
  const int length = hid::DecodeReport(
      report.data(), count < 0 ? static_cast<int>(report.size()) : count,
      trailers, label);
  return std::string(reinterpret_cast<char*>(label), length);
}

TEST(HidReport, OneByteTrailersNameTheSymbology) {
  EXPECT_EQ(Decode(Report("4006381333931", {0x16})), "F4006381333931");
  EXPECT_EQ(Decode(Report("96385074", {0x0C})), "FF96385074");
  EXPECT_EQ(Decode(Report("012345678905", {0x0D})), "A012345678905");
  EXPECT_EQ(Decode(Report("01234565", {0x0A})), "E01234565");
}

TEST(HidReport, ThreeByteTrailersNameTheSymbology) {
  const struct {
    uint8_t symbology;
    const char* letters;
  } rows[] = {{0x0A, "M"}, {0x0C, "D"}, {0x0D, "I"},  {0x0E, "N"},
              {0x11, "A"}, {0x12, "E"}, {0x13, "F"},  {0x14, "E"},
              {0x15, "F"}, {0x16, "A"}, {0x17, "FF"}, {0x18, "K"},
              {0x19, "L"}, {0x1D, "FF"}, {0x25, "C"}};
  for (const auto& row : rows) {
    EXPECT_EQ(Decode(Report("DATA123", {0x00, row.symbology, 0x0B})),
              std::string(row.letters) + "DATA123")
        << int(row.symbology);
  }
}

TEST(HidReport, OneByteTrailerIsTestedFirst) {
  // Byte L is 0x0D (UPC-A, one byte) although 00 0B could end a trailer.
  EXPECT_EQ(Decode(Report("123", {0x00, 0x0B, 0x0D})),
            std::string("A123\x00\x0B", 6));
}

TEST(HidReport, TheExamplesOfTheScanner) {
  std::vector<uint8_t> report(65, 0);
  report[1] = 17;
  for (int i = 5; i <= 16; ++i) report[i] = static_cast<uint8_t>('0' + i % 10);
  report[17] = 0x0D;
  EXPECT_EQ(Decode(report), "A567890123456");
  report[1] = 19;
  report[17] = 0x00;
  report[18] = 0x18;
  report[19] = 0x0B;
  EXPECT_EQ(Decode(report), "K567890123456");
  report[18] = 0x30;
  EXPECT_EQ(Decode(report), "") << "unknown symbology: no label";
  std::vector<uint8_t> letterOnly(65, 0);
  letterOnly[1] = 5;
  letterOnly[5] = 0x16;
  EXPECT_EQ(Decode(letterOnly), "F");
}

TEST(HidReport, JavaPosTrailersAreKnownOnlyToTheBridge) {
  const auto rs = Report("12345678901234", {0x00, 0x2A, 0x0B});
  const auto rx = Report("ABC", {0x00, 0x2B, 0x0B});
  EXPECT_EQ(Decode(rs), "");
  EXPECT_EQ(Decode(rs, Trailers::kJavaPos), "RS12345678901234");
  EXPECT_EQ(Decode(rx, Trailers::kJavaPos), "RXABC");
  EXPECT_EQ(Decode(Report("1", {0x0D}), Trailers::kJavaPos), "A1");
}

TEST(HidReport, LMustLeaveRoomForTrailerAndDataInsideTheReport) {
  std::vector<uint8_t> report(65, 0x0D);  // every byte a UPC-A trailer
  for (int last : {0, 1, 2, 3, 4}) {
    report[1] = static_cast<uint8_t>(last);
    EXPECT_EQ(Decode(report), "") << last;
  }
  report[1] = 64;
  EXPECT_EQ(Decode(report).size(), 1u + 59u) << "the last byte of 65";
  for (int last : {65, 100, 255}) {
    report[1] = static_cast<uint8_t>(last);
    EXPECT_EQ(Decode(report), "") << last;
  }
  std::vector<uint8_t> three(65, 0);
  three[1] = 6;
  three[5] = 0x00;
  three[6] = 0x0B;
  EXPECT_EQ(Decode(three), "") << "a three-byte trailer needs L of 7";
  three[1] = 7;
  three[6] = 0x18;
  three[7] = 0x0B;
  EXPECT_EQ(Decode(three), "K");
}

TEST(HidReport, ShortReadsCarryNoLabel) {
  const auto report = Report("012345678905", {0x0D});
  EXPECT_EQ(Decode(report, Trailers::kServiceObject, 63), "");
  EXPECT_EQ(Decode(report, Trailers::kServiceObject, 40), "");
  EXPECT_EQ(Decode(report, Trailers::kServiceObject, 64), "A012345678905");
  std::vector<uint8_t> full(64, 0x0D);
  full[1] = 64;
  EXPECT_EQ(Decode(full, Trailers::kServiceObject, 64), "")
      << "byte L was not read";
}

}  // namespace
