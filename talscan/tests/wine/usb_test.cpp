// The USB scanner type under Wine, where no such scanner is present.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <memory>

#include "common/hid/win32/win32_hid.h"
#include "testing/wine/wine_support.h"

namespace {

std::string SystemText(DWORD error) {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = text ? text : "";
  LocalFree(text);
  return result;
}

class UsbScanner : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(wine::RegisterLibrary(wine::ProgramFolder() + "TALSCAN.dll"),
              S_OK);
    so = wine::Dispatch::Create(L"TALSCAN.ScannerSO");
    control = wine::Dispatch::Create(L"OPOS.Scanner");
    ASSERT_TRUE(so && control);
    so.CallLong(L"Close");
  }
  long Open(const std::string& device) {
    return so.CallLong(L"OpenService",
                       {wine::Bstr("Scanner"), wine::Bstr(device),
                        wine::DispatchVariant(control.get())});
  }

  wine::Dispatch so;
  wine::Dispatch control;
};

TEST_F(UsbScanner, MissingScannerFailsWithTheSearchErrorShown) {
  wine::BoxAnswerer boxes;
  wine::WriteStandardEntry("UsbTill", "OPOS USB Scanner", "COM1", "KORVA", 1);
  EXPECT_EQ(Open("UsbTill"), 111);
  ASSERT_TRUE(boxes.WaitForBoxes(1, 5000));
  const wine::BoxAnswerer::Box box = boxes.Boxes()[0];
  EXPECT_EQ(box.caption, "TALSCAN.ScannerSO");
  const std::string prefix = "Unable to open USB Scanner.\nError ";
  ASSERT_EQ(box.text.rfind(prefix, 0), 0u) << box.text;
  const DWORD error =
      std::strtoul(box.text.c_str() + prefix.size(), nullptr, 10);
  EXPECT_EQ(box.text,
            prefix + std::to_string(error) + ": " + SystemText(error));
  EXPECT_EQ(so.CallLong(L"GetPropertyNumber", {wine::Long(9)}), 1);
}

TEST_F(UsbScanner, WithoutDebugLevelNothingIsShownAndBothClosesSucceed) {
  wine::BoxAnswerer boxes;
  wine::WriteStandardEntry("UsbTill", "OPOS USB Scanner", "COM1");
  EXPECT_EQ(Open("UsbTill"), 111);
  wine::PumpUntil([] { return false; }, 300);
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(so.CallLong(L"Close"), 0) << "a USB device has no port to close";
  EXPECT_EQ(so.CallLong(L"Close"), 0);
}

TEST_F(UsbScanner, UsbEntryStillNeedsItsPort) {
  wine::BoxAnswerer boxes;
  wine::WriteStandardEntry("UsbTill", "OPOS USB Scanner", "COM1", "KORVA", 1);
  RegDeleteKeyValueA(HKEY_LOCAL_MACHINE,
                     "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\UsbTill",
                     "Port");
  EXPECT_EQ(Open("UsbTill"), 111);
  wine::PumpUntil([] { return false; }, 300);
  EXPECT_TRUE(boxes.Boxes().empty()) << "it fails before DebugLevel is read";
}

// A device that stops taking output reports: here a pipe whose other end
// reads nothing, opened as the HID layer opens a device. Writes go into the
// pipe's buffer until it is full; the next one must fail after its bound
// instead of holding the caller for ever.
TEST(HidDevice, StalledWriteFailsInsteadOfHanging) {
  const char kPath[] = "\\\\.\\pipe\\stalled-hid-device";
  HANDLE ends[2];
  for (HANDLE& end : ends) {
    end = CreateNamedPipeA(kPath, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                           PIPE_TYPE_BYTE, 2, 64, 64, 0, nullptr);
    ASSERT_NE(end, INVALID_HANDLE_VALUE);
  }
  hid::Win32Bus bus;
  std::unique_ptr<hid::Device> device;
  const PlatformError opened = bus.Open(kPath, device);
  ASSERT_TRUE(device) << opened.code;
  const uint8_t report[12] = {0, 0x11};
  PlatformError written;
  int accepted = 0;
  while (accepted < 100000 &&
         !(written = device->WriteReport(report, 12)).Failed()) {
    ++accepted;
  }
  EXPECT_EQ(written.code, static_cast<uint32_t>(ERROR_TIMEOUT))
      << "after " << accepted << " reports";
  device->Close();
  for (HANDLE end : ends) CloseHandle(end);
}

}  // namespace
