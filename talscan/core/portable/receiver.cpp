#include "talscan/core/portable/receiver.h"

#include <chrono>
#include <cstdio>

#include "talscan/core/code128.h"
#include "talscan/core/portable/protocol.h"
#include "talscan/core/scanner_warnings.h"

using namespace portable;

namespace {

// How long a record's acknowledgement waits for room in a full queue.
constexpr std::chrono::seconds kRecordRoomLimit(10);

constexpr int kStatusEndOffset = 74;
constexpr int kGReplyEndOffset = 14;
constexpr int kTimeStampLength = 13;

bool IsUnsolicited(uint8_t sequence) {
  return sequence == 'W' || sequence == 'w';
}

}  // namespace

PortableReceiver::PortableReceiver(Opening& opening, PortLink& link,
                                   Clock& clock, Notifier& notifier,
                                   EventPath& events, EventSink& sink,
                                   LabelFrame& frame)
    : opening_(opening),
      link_(link),
      clock_(clock),
      notifier_(notifier),
      events_(events),
      sink_(sink),
      frame_(frame) {}

// A packet that does not fit the frame is abandoned with a warning.
bool PortableReceiver::Append(uint8_t byte) {
  if (frame_.AppendFrameByte(byte)) return true;
  ShowReceiveError(frame_, notifier_);
  packetState_ = kWaitStart;
  return false;
}

void PortableReceiver::TakeByte(uint8_t byte) {
  switch (packetState_) {
    case kWaitStart:
      if (byte != portable::kStart) return;
      frame_.ResetFrame();
      frame_.AppendFrameByte(byte);
      packetState_ = kInPacket;
      return;
    case kInPacket:
      // A record the scanner sends on its own is answered as soon as its
      // third byte arrives, when the configuration asks for it.
      if (opening_.PortableState == kIdle && frame_.FrameLength == 2 &&
          (opening_.Entry.PortableConfiguration[8] & 0xC0) == 0xC0 &&
          IsUnsolicited(frame_.FrameBuffer[1])) {
        const uint8_t early[2] = {0x55, 0x55};
        PortLink::WriteTurn(link_).Write(early, 2);
      }
      if (!Append(byte)) return;
      if (byte == portable::kEnd) packetState_ = kWaitCheck;
      return;
    case kWaitCheck: {
      packetState_ = kWaitStart;
      if (!Append(byte)) return;
      uint8_t check = 0;
      for (int i = 0; i < frame_.FrameLength; ++i)
        check ^= frame_.FrameBuffer[i];
      if (check == 0) {
        Dispatch();
        return;
      }
      // A damaged packet ends a download only when it cannot be the one
      // expected; otherwise the download goes on waiting for it. Other
      // operations have no sequence to compare with (the expected one is
      // the last download's) and wait for their reply or the silence.
      const long operation = opening_.PortableState;
      const bool downloading =
          operation == kAwaitingHeader || operation == kReceivingRecords;
      if (downloading && frame_.FrameBuffer[1] != expectedSequence_) {
        // Reported before the state is cleared, unlike every other end;
        // not for a download that DirectIO has replaced meanwhile.
        if (opening_.PortableState != operation) return;
        sink_.FireSOStatusUpdate(kDownloadFailed);
        MoveOn(operation, kIdle);
      }
      return;
    }
  }
}

uint8_t PortableReceiver::At(int offset) const {
  return offset < frame_.FrameLength ? frame_.FrameBuffer[offset] : 0;
}

bool PortableReceiver::MoveOn(long from, long to) {
  return opening_.PortableState.compare_exchange_strong(from, to);
}

void PortableReceiver::Finish(long operation, long status) {
  // A reply to an operation that a new DirectIO command replaced meanwhile
  // changes nothing and reports nothing.
  if (MoveOn(operation, kIdle)) sink_.FireSOStatusUpdate(status);
}

void PortableReceiver::Dispatch() {
  const uint8_t sequence = At(1);
  const long operation = opening_.PortableState;
  if (IsUnsolicited(sequence) && operation == kIdle) {
    ConvertPortableRecord();
  } else if (sequence == 0 && (At(2) == 'R' || At(2) == 'r')) {
    StartOperation(operation);
  } else if (operation > kIdle) {
    TakeReply(operation);
  }
}

// The scanner's ready packet: send the request of the pending operation.
void PortableReceiver::StartOperation(long operation) {
  const PortableConfigurationBytes& config =
      opening_.Entry.PortableConfiguration;
  switch (operation) {
    case kDownloadRequested: {
      const uint8_t body = 'L';
      portable::SendPacket(link_, 0, &body, 1);
      expectedSequence_ = 1;
      MoveOn(operation, kAwaitingHeader);
      break;
    }
    case kConfigurationRequested:
      portable::SendNibblePacket(link_, 0, 'C', config.data(), 16);
      MoveOn(operation, kAwaitingConfigurationAck);
      break;
    case kClockRequested: {
      uint8_t body[15];
      portable::ClockBody(clock_.Local(), config, body);
      portable::SendNibblePacket(link_, 0, 'T', body, 15);
      MoveOn(operation, kAwaitingClockAck);
      break;
    }
    case kUserIDRequested: {
      uint8_t userID[8];
      for (int i = 0; i < 8; ++i) {
        userID[i] = static_cast<uint8_t>(opening_.Entry.UserID[i]);
      }
      portable::SendNibblePacket(link_, 0, 'U', userID, 8);
      MoveOn(operation, kAwaitingUserIDAck);
      break;
    }
    case kStatusRequested:
      portable::SendNibblePacket(link_, 0, 'S', nullptr, 0);
      MoveOn(operation, kAwaitingStatus);
      break;
    case kGQueryRequested: {
      const uint8_t body = 'G';
      portable::SendPacket(link_, 0, &body, 1);
      MoveOn(operation, kAwaitingGReply);
      break;
    }
    default: break;  // nothing pending: the ready packet is ignored
  }
}

void PortableReceiver::TakeReply(long operation) {
  const bool acknowledged = At(2) == portable::kAck && At(3) == portable::kEnd;
  switch (operation) {
    case kAwaitingHeader:
    case kReceivingRecords: TakeDownloadPacket(); break;
    case kAwaitingConfigurationAck:
      Finish(operation,
             acknowledged ? kConfigurationDone : kConfigurationFailed);
      break;
    case kAwaitingClockAck:
      Finish(operation, acknowledged ? kClockDone : kClockFailed);
      break;
    case kAwaitingUserIDAck:
      Finish(operation, acknowledged ? kUserIDDone : kUserIDFailed);
      break;
    case kAwaitingStatus:
      if (!MoveOn(operation, kIdle)) break;
      if (opening_.ReceiveActive && At(1) == 1 &&
          frame_.FrameLength > kStatusEndOffset &&
          At(kStatusEndOffset) == portable::kEnd) {
        long data = 1;
        std::string text = StatusText();
        sink_.FireSODirectIO(kStatusEvent, data, text);
      } else {
        sink_.FireSOStatusUpdate(kStatusReplyBad);
      }
      break;
    case kAwaitingGReply:
      if (!MoveOn(operation, kIdle)) break;
      if (opening_.ReceiveActive && At(1) == 1 &&
          frame_.FrameLength > kGReplyEndOffset &&
          At(kGReplyEndOffset) == portable::kEnd) {
        long data = 1;
        std::string text = Text(2, 12);
        sink_.FireSODirectIO(kGReplyEvent, data, text);
      } else {
        sink_.FireSOStatusUpdate(kGReplyBad);
      }
      break;
    default: break;  // still waiting for the ready packet
  }
}

void PortableReceiver::TakeDownloadPacket() {
  const long operation = opening_.PortableState;
  const uint8_t sequence = At(1);
  if (sequence != expectedSequence_) {
    Finish(operation, kDownloadFailed);
    return;
  }
  expectedSequence_ = static_cast<uint8_t>((expectedSequence_ + 1) % 128);

  if (operation == kAwaitingHeader) {
    long data = 1;
    std::string first = Text(2, 8);
    sink_.FireSODirectIO(kHeaderFirstText, data, first);
    std::string second = Text(10, 8);
    sink_.FireSODirectIO(kHeaderSecondText, data, second);
    long records = (At(20) * 16L + At(21)) * 256L + At(18) * 16L + At(19);
    std::string none;
    sink_.FireSODirectIO(kHeaderRecordCount, records, none);
    const uint8_t ack = portable::kAck;
    portable::SendPacket(link_, 1, &ack, 1);
    MoveOn(operation, kReceivingRecords);
    return;
  }

  if (At(2) == portable::kEndOfDownload && At(3) == portable::kEnd) {
    if (!MoveOn(operation, kIdle)) return;
    const uint8_t answer =
        opening_.Entry.PortableConfiguration[19] != 0 ? 'D' : portable::kAck;
    const bool written = portable::SendPacket(link_, sequence, &answer, 1);
    sink_.FireSOStatusUpdate(written ? kDownloadComplete : kDownloadFailed);
    return;
  }
  // Each record is acknowledged before it is delivered, and a record the
  // scanner is told was received must reach the application: while the
  // queue is full the acknowledgement waits for room. A download whose
  // application takes no label for that long, or whose acknowledgement
  // cannot be written, ends unacknowledged: the scanner keeps the record
  // for the next download, which delivers it once.
  const uint8_t ack = portable::kAck;
  if (!events_.AwaitRoomForLabel(kRecordRoomLimit) ||
      !portable::SendPacket(link_, sequence, &ack, 1)) {
    Finish(operation, kDownloadFailed);
    return;
  }
  ConvertPortableRecord();
}

// A record packet becomes a label: an optional time stamp (kept in the
// native mode only), a code letter and the data up to the end byte.
void PortableReceiver::ConvertPortableRecord() {
  const uint8_t* packet = frame_.FrameBuffer;
  const int end = frame_.FrameLength - 2;  // the end byte before the check
  label_.Length = 0;
  auto append = [this](uint8_t byte) {
    if (label_.Length < kMaxLabelLength) label_.Bytes[label_.Length++] = byte;
  };

  int position = 2;
  if (At(2) == 'T') {
    if (opening_.Entry.CompatibilityMode == kModeKorva) {
      for (int i = 2; i < 2 + kTimeStampLength && i < end; ++i)
        append(packet[i]);
    }
    position = 2 + kTimeStampLength;
  }
  if (position < end) {
    const uint8_t letter = packet[position];
    const uint8_t* data = packet + position + 1;
    int count = end - position - 1;
    if (letter == 'K' && opening_.Entry.ScannerType == kTypePortableM40) {
      append('K');
      char text[kMaxCode128Text + 1];
      const int length = ExpandCode128(data, count, text);
      for (int i = 0; i < length; ++i) append(static_cast<uint8_t>(text[i]));
      count = 0;
    } else if (letter == 'B') {
      append('F');
      append('F');
    } else if (letter == 'F' && count > 0 && data[0] == '0') {
      append('A');
      ++data;
      --count;
    } else {
      append(letter);
    }
    for (int i = 0; i < count; ++i) append(data[i]);
  }
  label_.Bytes[label_.Length] = 0;
  events_.DeliverLabel(label_.Bytes, label_.Length,
                       EventPath::QueuedLabels::kKeep);
}

void PortableReceiver::UnpackNibbles(int offset, int count,
                                     uint8_t* out) const {
  for (int i = 0; i < count; ++i) {
    out[i] = static_cast<uint8_t>((At(offset + 2 * i) << 4) |
                                  At(offset + 2 * i + 1));
  }
}

// Raw characters from the packet; a zero byte ends the text early.
std::string PortableReceiver::Text(int offset, int count) const {
  std::string text;
  for (int i = 0; i < count && At(offset + i) != 0; ++i) {
    text.push_back(static_cast<char>(At(offset + i)));
  }
  return text;
}

// 32 lower-case hex digits, then three texts, joined by commas.
std::string PortableReceiver::StatusText() const {
  uint8_t bytes[16];
  UnpackNibbles(2, 16, bytes);
  std::string text;
  char hex[3];
  for (uint8_t byte : bytes) {
    snprintf(hex, sizeof hex, "%02x", byte);
    text += hex;
  }
  const struct {
    int offset;
    int count;
  } fields[] = {{34, 8}, {50, 8}, {66, 4}};
  for (const auto& field : fields) {
    uint8_t unpacked[8];
    UnpackNibbles(field.offset, field.count, unpacked);
    text.push_back(',');
    for (int i = 0; i < field.count && unpacked[i] != 0; ++i) {
      text.push_back(static_cast<char>(unpacked[i]));
    }
  }
  return text;
}
