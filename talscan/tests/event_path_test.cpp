// The label hand-off: delivered at once or queued, and the queue drained
// one label per enabling, under every combination of the event flags.
#include "talscan/core/event_path.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/fakes/recording_event_sink.h"

namespace {

class EventPathTest : public ::testing::Test {
 protected:
  EventPathTest() : path(state, opening, sink) {
    opening.ReceiveActive = true;
    state.DecodeData = 1;
  }

  void Arrive(const std::string& label) {
    for (char c : label) frame.AppendFrameByte(static_cast<uint8_t>(c));
    path.DeliverFrame(frame);
    EXPECT_EQ(frame.FrameLength, 0) << "the frame is emptied either way";
  }

  ScannerState state;
  Opening opening{DeviceEntry()};
  fakes::RecordingEventSink sink;
  EventPath path;
  LabelFrame frame;
};

TEST_F(EventPathTest, EnabledLabelIsDeliveredAtOnceAndDisablesEvents) {
  state.DataEventEnabled = 1;
  Arrive("A012345678905");
  ASSERT_EQ(sink.DataEvents(), 1);
  EXPECT_EQ(sink.Events()[0].number, 1) << "Status is always 1";
  EXPECT_EQ(path.ScanData(), "A012345678905");
  EXPECT_EQ(path.ScanDataLabel(), "012345678905");
  EXPECT_EQ(path.ScanDataType(), 101);
  EXPECT_EQ(state.DataEventEnabled, 0);
}

TEST_F(EventPathTest, DisabledLabelsQueueAndLeaveOnePerEnabling) {
  Arrive("A111111111111");
  Arrive("A222222222222");
  Arrive("A333333333333");
  EXPECT_EQ(path.DataCount(), 3);
  EXPECT_EQ(sink.DataEvents(), 0);

  path.SetDataEventEnabled(1);
  EXPECT_EQ(sink.DataEvents(), 1);
  EXPECT_EQ(path.ScanDataLabel(), "111111111111");
  EXPECT_EQ(path.DataCount(), 2);
  EXPECT_EQ(state.DataEventEnabled, 0);

  path.SetDataEventEnabled(1);
  EXPECT_EQ(path.ScanDataLabel(), "222222222222");
  path.SetDataEventEnabled(1);
  EXPECT_EQ(path.ScanDataLabel(), "333333333333");
  EXPECT_EQ(path.DataCount(), 0);
  EXPECT_EQ(state.DataEventEnabled, 1) << "the queue is empty";
  EXPECT_EQ(sink.DataEvents(), 3);

  Arrive("E12345678");
  EXPECT_EQ(sink.DataEvents(), 4) << "delivered at once";
  EXPECT_EQ(path.ScanDataType(), 102);
}

TEST_F(EventPathTest, SettingTheSameValueStillRunsTheDeliveryCheck) {
  Arrive("A111111111111");
  state.DataEventEnabled = 1;
  path.SetDataEventEnabled(1);
  EXPECT_EQ(sink.DataEvents(), 1);
  EXPECT_EQ(path.DataCount(), 0);
}

TEST_F(EventPathTest, FreezeEventsHoldsLabelsAndThawingDeliversOne) {
  state.DataEventEnabled = 1;
  path.SetFreezeEvents(1);
  Arrive("A111111111111");
  Arrive("A222222222222");
  EXPECT_EQ(sink.DataEvents(), 0);
  path.SetFreezeEvents(0);
  EXPECT_EQ(sink.DataEvents(), 1);
  EXPECT_EQ(path.DataCount(), 1);
  EXPECT_EQ(state.DataEventEnabled, 0);
}

TEST_F(EventPathTest, FrozenControlObjectQueuesButDoesNotStopTheDrain) {
  state.DataEventEnabled = 1;
  state.COEventsFrozen = true;
  Arrive("A111111111111");
  Arrive("A222222222222");
  EXPECT_EQ(sink.DataEvents(), 0);
  path.SetDataEventEnabled(1);
  EXPECT_EQ(sink.DataEvents(), 1) << "the drain ignores COEventsFrozen";

  state.COEventsFrozen = false;
  state.DataEventEnabled = 1;
  Arrive("A333333333333");
  EXPECT_EQ(sink.DataEvents(), 2);
  EXPECT_EQ(path.ScanDataLabel(), "333333333333");
  EXPECT_EQ(path.DataCount(), 0) << "a label delivered at once drops the queue";
}

TEST_F(EventPathTest, QueueHoldsThreeHundredLabelsAndDropsTheRest) {
  for (int i = 0; i < 301; ++i) Arrive("A" + std::to_string(100000000000 + i));
  EXPECT_EQ(path.DataCount(), 300);
  path.SetDataEventEnabled(1);
  EXPECT_EQ(path.ScanDataLabel(), "100000000000");
  for (int i = 1; i < 300; ++i) path.SetDataEventEnabled(1);
  EXPECT_EQ(path.ScanDataLabel(), "100000000299") << "the 301st was dropped";
  EXPECT_EQ(path.DataCount(), 0);
}

TEST_F(EventPathTest, QueueWrapsAroundWithoutLosingOrder) {
  for (int round = 0; round < 3; ++round) {
    state.DataEventEnabled = 0;  // the last drain left it enabled
    for (int i = 0; i < 200; ++i)
      Arrive("M" + std::to_string(round * 1000 + i));
    for (int i = 0; i < 200; ++i) {
      path.SetDataEventEnabled(1);
      ASSERT_EQ(path.ScanDataLabel(), std::to_string(round * 1000 + i));
    }
  }
}

TEST_F(EventPathTest, AutoDisableClearsDeviceEnabledOnImmediateDelivery) {
  state.AutoDisable = 1;
  state.DeviceEnabled = 1;
  Arrive("A111111111111");
  EXPECT_EQ(state.DeviceEnabled, 1) << "a queued label does not disable";
  state.DataEventEnabled = 1;
  Arrive("A222222222222");
  EXPECT_EQ(state.DeviceEnabled, 0);
}

TEST_F(EventPathTest, QueuedLabelsAreConvertedWithTheSettingsAtDelivery) {
  Arrive("K12");
  state.BinaryConversion = 1;
  state.DecodeData = 0;
  path.SetDataEventEnabled(1);
  EXPECT_EQ(path.ScanData(), "4;3132");
  EXPECT_EQ(path.ScanDataLabel(), "");
  EXPECT_EQ(path.ScanDataType(), 0);
}

TEST_F(EventPathTest, LabelsKeepEveryByteThroughTheQueue) {
  const std::string binary("P\x00\x01\xff\x80", 5);
  Arrive(binary);
  path.SetDataEventEnabled(1);
  EXPECT_EQ(path.ScanData(), binary);
}

// A thread still finishing after its opening ended: the label goes
// nowhere and the device's properties, maybe a newer opening's, stay.
TEST_F(EventPathTest, EndedOpeningNeitherDeliversNorQueues) {
  state.AutoDisable = 1;
  state.DeviceEnabled = 1;
  state.DataEventEnabled = 1;
  opening.ReceiveActive = false;
  Arrive("A111111111111");
  EXPECT_EQ(sink.DataEvents(), 0);
  EXPECT_EQ(path.DataCount(), 0);
  EXPECT_EQ(state.DeviceEnabled, 1);
  EXPECT_EQ(state.DataEventEnabled, 1);
}

TEST_F(EventPathTest, ClearInputEmptiesQueueAndScanData) {
  state.DataEventEnabled = 1;
  Arrive("A111111111111");
  Arrive("A222222222222");
  path.ClearInput();
  EXPECT_EQ(path.DataCount(), 0);
  EXPECT_EQ(path.ScanData(), "");
  EXPECT_EQ(path.ScanDataLabel(), "");
  EXPECT_EQ(path.ScanDataType(), 101) << "ClearInput keeps the type";
}

TEST_F(EventPathTest, FrameDiscardIsTakenOnce) {
  EXPECT_FALSE(path.TakeFrameDiscardRequest());
  path.RequestFrameDiscard();
  EXPECT_TRUE(path.TakeFrameDiscardRequest());
  EXPECT_FALSE(path.TakeFrameDiscardRequest()) << "asked once";
}

TEST_F(EventPathTest, LabelArrivingDuringADataEventWaitsForItsHandler) {
  Arrive("A111111111111");
  std::vector<std::string> seen;
  sink.OnEvent([&](const fakes::FiredEvent&) {
    // The next label comes in before the handler reads the first.
    if (seen.empty()) Arrive("A222222222222");
    seen.push_back(path.ScanData());
  });
  path.SetDataEventEnabled(1);
  EXPECT_EQ(seen, (std::vector<std::string>{"A111111111111", "A222222222222"}))
      << "each handler reads its own label, and the second still comes";
  EXPECT_EQ(path.DataCount(), 0);
}

TEST_F(EventPathTest, HandlerMayCallBackIntoTheEventPath) {
  for (int i = 0; i < 5; ++i) Arrive("N" + std::to_string(i));
  std::vector<std::string> seen;
  sink.OnEvent([&](const fakes::FiredEvent&) {
    seen.push_back(path.ScanDataLabel());
    path.SetDataEventEnabled(1);  // asks for the next label at once
  });
  path.SetDataEventEnabled(1);
  EXPECT_EQ(seen, (std::vector<std::string>{"0", "1", "2", "3", "4"}));
  EXPECT_EQ(path.DataCount(), 0);
}

}  // namespace
