// The device state machine: what each method checks and returns, the
// DirectIO table, opening and closing.
#include <gtest/gtest.h>

#include "talscan/tests/service_fixture.h"

namespace {

using Step = fakes::ScriptedSerialPort::Step;

class ServiceStateTest : public ServiceTest {};

TEST_F(ServiceStateTest, ClosedDeviceRefusesClaimReleaseAndClearInput) {
  EXPECT_EQ(Result(), opos::kClosed);
  EXPECT_EQ(Property(opos::pidx::State), opos::kStateClosed);
  EXPECT_EQ(service.Claim(0), opos::kClosed);
  EXPECT_EQ(service.Release(), opos::kClosed);
  EXPECT_EQ(service.ClearInput(), opos::kClosed);
  EXPECT_EQ(Property(opos::pidx::Claimed), 0);
}

TEST_F(ServiceStateTest, CheckHealthAndClearOutputAreIllegalInEveryState) {
  EXPECT_EQ(service.CheckHealth(1), opos::kIllegal);
  EXPECT_EQ(service.ClearOutput(), opos::kIllegal);
  WriteEntry("Till", "Model 73 Series");
  ASSERT_EQ(Open("Till"), opos::kSuccess);
  EXPECT_EQ(service.CheckHealth(2), opos::kIllegal);
  EXPECT_EQ(Result(), opos::kIllegal);
  ASSERT_EQ(service.Claim(0), opos::kSuccess);
  EXPECT_EQ(service.ClearOutput(), opos::kIllegal);
  EXPECT_EQ(Result(), opos::kIllegal);
}

TEST_F(ServiceStateTest, ClaimAndReleaseFollowTheClaimedFlag) {
  WriteEntry("Till", "Omni-directional Laser");
  ASSERT_EQ(Open("Till"), opos::kSuccess);
  EXPECT_EQ(service.Release(), opos::kNotClaimed);
  EXPECT_EQ(service.Claim(1000), opos::kSuccess);
  EXPECT_EQ(service.Claim(0), opos::kClaimed);
  EXPECT_EQ(Property(opos::pidx::Claimed), 1);
  EXPECT_EQ(Result(), opos::kClaimed);
  EXPECT_EQ(service.ClearInput(), opos::kSuccess);
  EXPECT_EQ(service.Release(), opos::kSuccess);
  EXPECT_EQ(Property(opos::pidx::Claimed), 0);
  EXPECT_EQ(service.ClearInput(), opos::kNotClaimed);
}

TEST_F(ServiceStateTest, COFreezeEventsSucceedsInEveryState) {
  EXPECT_EQ(service.COFreezeEvents(true), opos::kSuccess);
  EXPECT_EQ(Result(), opos::kSuccess);
  EXPECT_EQ(service.COFreezeEvents(false), opos::kSuccess);
}

TEST_F(ServiceStateTest, DirectIOCommandsDependOnTheScannerType) {
  WriteEntry("M20", "Portable Scanner M-20");
  WriteEntry("M40", "Portable Scanner M-40");
  ASSERT_EQ(Open("M20"), opos::kSuccess);
  for (long command : {100, 200, 201, 202, 203, 204, 205}) {
    EXPECT_EQ(service.DirectIO(command), opos::kSuccess) << command;
  }
  EXPECT_EQ(service.DirectIO(12345), opos::kIllegal);
  EXPECT_EQ(service.DirectIO(206), opos::kIllegal);
  EXPECT_EQ(service.DirectIO(-1), opos::kIllegal);
  ASSERT_EQ(service.Close(), opos::kSuccess);

  ASSERT_EQ(Open("M40"), opos::kSuccess);
  EXPECT_EQ(service.DirectIO(202), opos::kIllegal);
  EXPECT_EQ(service.DirectIO(205), opos::kIllegal);
  EXPECT_EQ(service.DirectIO(203), opos::kSuccess);
  EXPECT_EQ(service.DirectIO(12345), opos::kIllegal);
}

TEST_F(ServiceStateTest, DirectIOOnFixedTypesKnowsOnlyProgramming) {
  WriteEntry("Laser", "Model 73 Series");
  ASSERT_EQ(Open("Laser"), opos::kSuccess);
  EXPECT_EQ(service.DirectIO(200), opos::kIllegal);
  EXPECT_EQ(service.DirectIO(0), opos::kIllegal);
  // No scanner answers on the scripted port: the programming fails.
  EXPECT_EQ(service.DirectIO(12345), opos::kFailure);
  EXPECT_EQ(Result(), opos::kFailure);
}

TEST_F(ServiceStateTest, OpenServiceOfAMissingDeviceFailsSilently) {
  SetEntryDword("Other", "DebugLevel", 1);
  EXPECT_EQ(Open("Missing"), opos::kFailure);
  EXPECT_EQ(Property(opos::pidx::State), opos::kStateClosed);
  EXPECT_EQ(Result(), opos::kFailure);
  EXPECT_TRUE(notifier.Boxes().empty());
}

TEST_F(ServiceStateTest, FailuresBeforeDebugLevelIsReadShowNoBox) {
  SetEntryValue("NoPort", "Type", "Model 73 Series");
  SetEntryDword("NoPort", "DebugLevel", 1);
  EXPECT_EQ(Open("NoPort"), opos::kFailure);
  EXPECT_TRUE(notifier.Boxes().empty());
}

TEST_F(ServiceStateTest, DebugLevelShowsTheFailingStepWithSystemText) {
  WriteEntry("Till", "Omni-directional Laser", "COM3");
  SetEntryDword("Till", "DebugLevel", 1);
  serial.FailStep(Step::kOpen, 2);
  EXPECT_EQ(Open("Till"), opos::kFailure);
  ASSERT_EQ(notifier.Boxes().size(), 1u);
  EXPECT_EQ(notifier.Boxes()[0].caption, "TALSCAN.ScannerSO");
  EXPECT_EQ(notifier.Boxes()[0].text,
            "Unable to open COM3.\nError 2: System text of error 2.\r\n");
  EXPECT_EQ(Property(opos::pidx::State), opos::kStateClosed);
}

TEST_F(ServiceStateTest, WithoutDebugLevelTheSameFailureShowsNothing) {
  WriteEntry("Till", "Omni-directional Laser", "COM3");
  serial.FailStep(Step::kOpen, 2);
  EXPECT_EQ(Open("Till"), opos::kFailure);
  EXPECT_TRUE(notifier.Boxes().empty());
}

TEST_F(ServiceStateTest, PortableEntryWithoutConfigurationShowsItsMessage) {
  WriteEntry("M20", "Portable Scanner M-20");
  registry.SetBinary(reg::Root::LocalMachine, DeviceKeyPathFor("M20"),
                     "Configuration", std::vector<uint8_t>(30));
  SetEntryDword("M20", "DebugLevel", 3);
  EXPECT_EQ(Open("M20"), opos::kFailure);
  ASSERT_EQ(notifier.Boxes().size(), 1u);
  EXPECT_EQ(notifier.Boxes()[0].text,
            "Unable to load portable configuration from registry.\n");
}

TEST_F(ServiceStateTest, EachFailingPortStepHasItsMessageAndClosesThePort) {
  const struct {
    Step step;
    const char* message;
  } cases[] = {
      {Step::kSetBufferSizes, "Unable to set buffer sizes"},
      {Step::kReadLineSettings, "Unable to get state of communication port"},
      {Step::kWriteLineSettings, "Unable to set state of communication port"},
      {Step::kReadTimeouts, "Unable to get timeouts of communication port"},
      {Step::kWriteTimeouts, "Unable to set timeouts of communication port"},
  };
  for (const auto& c : cases) {
    fakes::VirtualClock stepClock;
    fakes::ScriptedSerialPort port(stepClock);
    fakes::RecordingNotifier boxes;
    Platform stepPlatform{registry, boxes, clock, threads, port, hid,
                          traceFiles};
    ScannerService stepService(stepPlatform);
    WriteEntry("Till", "Omni-directional Laser");
    SetEntryDword("Till", "DebugLevel", 1);
    port.FailStep(c.step, 31);
    EXPECT_EQ(stepService.OpenService("Scanner", "Till",
                                      fakes::Unowned(events)), opos::kFailure);
    ASSERT_EQ(boxes.Boxes().size(), 1u) << c.message;
    EXPECT_EQ(boxes.Boxes()[0].text, std::string(c.message) +
                                         ".\nError 31: System text of error "
                                         "31.\r\n");
    EXPECT_FALSE(port.IsOpen()) << c.message;
    EXPECT_EQ(stepService.GetPropertyNumber(opos::pidx::State),
              opos::kStateClosed);
  }
  EXPECT_EQ(threads.Started(), 0);
}

TEST_F(ServiceStateTest, PortIsConfiguredForTheScannerType) {
  WriteEntry("Laser", "Omni-directional Laser", "COM5");
  ASSERT_EQ(Open("Laser"), opos::kSuccess);
  EXPECT_EQ(serial.OpenedName(), "COM5");
  ASSERT_TRUE(serial.Settings());
  EXPECT_EQ(serial.Settings()->BaudRate, 9600u);
  EXPECT_EQ(serial.Settings()->ByteSize, 8);
  EXPECT_TRUE(serial.Settings()->TwoStopBits);
  EXPECT_TRUE(serial.Settings()->RtsDisabled);
  EXPECT_FALSE(serial.Settings()->AbortOnError);
  EXPECT_EQ(serial.InputQueueSize(), 128u);
  ASSERT_TRUE(serial.Timeouts());
  EXPECT_EQ(serial.Timeouts()->ReadInterval, 1u);
  EXPECT_EQ(serial.Timeouts()->ReadTotalMultiplier, 1u);
  EXPECT_EQ(serial.Timeouts()->ReadTotalConstant, 100u);
  EXPECT_EQ(serial.Timeouts()->WriteTotalMultiplier, 20u);
  EXPECT_EQ(serial.Timeouts()->WriteTotalConstant, 100u);
  ASSERT_EQ(service.Close(), opos::kSuccess);

  WriteEntry("M40", "Portable Scanner M-40", "COM6");
  ASSERT_EQ(Open("M40"), opos::kSuccess);
  EXPECT_EQ(serial.Settings()->BaudRate, 2400u);
}

TEST_F(ServiceStateTest, DeviceClassPlaysNoPart) {
  WriteEntry("Till", "Model 73 Series");
  EXPECT_EQ(service.OpenService("NotAScanner", "Till", fakes::Unowned(events)), opos::kSuccess);
  EXPECT_EQ(Property(opos::pidx::State), opos::kStateIdle);
}

TEST_F(ServiceStateTest, ReceiveThreadThatCannotStartFailsTheOpening) {
  WriteEntry("Till", "Model 73 Series");
  SetEntryDword("Till", "DebugLevel", 1);
  threads.FailNextStart();
  EXPECT_EQ(Open("Till"), opos::kFailure);
  EXPECT_FALSE(serial.IsOpen());
  ASSERT_EQ(notifier.Boxes().size(), 1u);
  EXPECT_EQ(notifier.Boxes()[0].text, "Can't start receive data thread.\n");
  EXPECT_EQ(Open("Till"), opos::kSuccess) << "a second try finds the port free";
}

TEST_F(ServiceStateTest, SecondOpenKeepsTheFirstOpeningInForce) {
  WriteEntry("Till", "Model 73 Series", "COM1", "SYMBOL");
  WriteEntry("Other", "Model 73 Series", "COM2", "BEETLE");
  SetEntryDword("Other", "DebugLevel", 1);
  ASSERT_EQ(Open("Till"), opos::kSuccess);
  ASSERT_EQ(service.Claim(0), opos::kSuccess);

  EXPECT_EQ(Open("Till"), opos::kFailure);
  EXPECT_EQ(Property(opos::pidx::Claimed), 0) << "OpenService clears Claimed";
  EXPECT_EQ(Open("Other"), opos::kFailure);
  ASSERT_EQ(notifier.Boxes().size(), 1u);
  EXPECT_EQ(notifier.Boxes()[0].text,
            "Unable to open COM2.\nError 5: System text of error 5.\r\n");
  EXPECT_EQ(Property(opos::pidx::State), opos::kStateIdle);
  EXPECT_EQ(threads.Started(), 1);
  EXPECT_EQ(serial.OpenedName(), "COM1");
}

TEST_F(ServiceStateTest, CloseBeforeOpenAndCloseTwiceFailOnTheSerialPort) {
  EXPECT_EQ(service.Close(), opos::kFailure);
  EXPECT_EQ(Result(), opos::kFailure);
  WriteEntry("Till", "Model 73 Series");
  ASSERT_EQ(Open("Till"), opos::kSuccess);
  EXPECT_EQ(service.Close(), opos::kSuccess);
  EXPECT_EQ(Property(opos::pidx::State), opos::kStateClosed);
  EXPECT_EQ(service.Close(), opos::kFailure);
  EXPECT_EQ(threads.Terminated(), 0);
}

TEST_F(ServiceStateTest, FailedPortCloseLeavesTheDeviceOpen) {
  WriteEntry("Till", "Model 73 Series");
  ASSERT_EQ(Open("Till"), opos::kSuccess);
  ASSERT_EQ(service.Claim(0), opos::kSuccess);
  serial.FailStep(Step::kClose, 6);
  EXPECT_EQ(service.Close(), opos::kFailure);
  EXPECT_EQ(Property(opos::pidx::State), opos::kStateIdle);
  EXPECT_EQ(Property(opos::pidx::Claimed), 1);
}

TEST_F(ServiceStateTest, CloseResetsEveryPropertyToItsClosedValue) {
  WriteEntry("Till", "Model 73 Series");
  ASSERT_EQ(Open("Till"), opos::kSuccess);
  ASSERT_EQ(service.Claim(0), opos::kSuccess);
  for (long index : {opos::pidx::DeviceEnabled, opos::pidx::FreezeEvents,
                     opos::pidx::AutoDisable, opos::pidx::BinaryConversion,
                     opos::pidx::DecodeData, opos::pidx::DataEventEnabled}) {
    service.SetPropertyNumber(index, 1);
  }
  service.COFreezeEvents(true);
  ASSERT_EQ(service.Close(), opos::kSuccess);
  EXPECT_EQ(Result(), opos::kSuccess);
  for (long index :
       {opos::pidx::Claimed, opos::pidx::DeviceEnabled, opos::pidx::FreezeEvents,
        opos::pidx::AutoDisable, opos::pidx::BinaryConversion,
        opos::pidx::DecodeData, opos::pidx::DataEventEnabled,
        opos::pidx::DataCount, opos::pidx::ScanDataType}) {
    EXPECT_EQ(Property(index), 0) << index;
  }
  EXPECT_EQ(Property(opos::pidx::State), opos::kStateClosed);
}

}  // namespace
