// The receiving side of a portable scanner's packet protocol: assembles
// packets byte by byte in the receive thread's frame, answers the scanner,
// carries out the operation DirectIO requested (PortableState), turns
// stored records into labels and reports progress to the application.
#pragma once

#include <cstdint>
#include <string>

#include "talscan/core/clock.h"
#include "talscan/core/event_path.h"
#include "talscan/core/event_sink.h"
#include "talscan/core/label_frame.h"
#include "talscan/core/notifier.h"
#include "talscan/core/opening.h"
#include "talscan/core/port_link.h"

class PortableReceiver {
 public:
  PortableReceiver(Opening& opening, PortLink& link, Clock& clock,
                   Notifier& notifier, EventPath& events, EventSink& sink,
                   LabelFrame& frame);

  // One byte read from the scanner.
  void TakeByte(uint8_t byte);

  bool BetweenPackets() const { return packetState_ == kWaitStart; }
  // Gives up the packet being received: the scanner fell silent, or bytes
  // of it were dropped.
  void AbandonPacket() { packetState_ = kWaitStart; }

 private:
  enum PacketState { kWaitStart, kInPacket, kWaitCheck };

  bool Append(uint8_t byte);
  void Dispatch();
  void StartOperation(long operation);
  void TakeReply(long operation);
  void TakeDownloadPacket();
  void ConvertPortableRecord();
  void UnpackNibbles(int offset, int count, uint8_t* out) const;
  std::string StatusText() const;
  std::string Text(int offset, int count) const;
  uint8_t At(int offset) const;
  // Ends the operation, if it is still the pending one, and reports it.
  void Finish(long operation, long status);
  bool MoveOn(long from, long to);

  Opening& opening_;
  PortLink& link_;
  Clock& clock_;
  Notifier& notifier_;
  EventPath& events_;
  EventSink& sink_;
  LabelFrame& frame_;
  PacketState packetState_ = kWaitStart;
  uint8_t expectedSequence_ = 0;
  Label label_;
};
