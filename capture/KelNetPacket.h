#pragma once
// One captured Ethernet frame and the link that chains it into the packet FIFO.

#include <cstdint>

class TKelNetPacket {
 public:
  TKelNetPacket();
  TKelNetPacket(const uint8_t* bytes, uint32_t length, int32_t sequenceNumber, bool copy);
  ~TKelNetPacket();

  TKelNetPacket(const TKelNetPacket&) = delete;
  TKelNetPacket& operator=(const TKelNetPacket&) = delete;

  // Releases any owned buffer, then fills the record; stamps Timestamp with the local time.
  void SetData(const uint8_t* bytes, uint32_t length, int32_t sequenceNumber, bool copy);
  // Releases an owned buffer; a borrowed pointer is left in place.
  void FreeData();
  // SetData from the source, then keeps the source's Timestamp and capture
  // time stamp and wire length. Next is not copied.
  void CopyFrom(const TKelNetPacket& source, bool copy);
  // CopyFrom with copy true, except that an owned buffer of the source changes
  // hands instead of being copied; the source is left without it. Next is not moved.
  void MoveFrom(TKelNetPacket& source);

  // For hosts.
  uint8_t* get_data() const { return Data; }
  uint32_t get_length() const { return Length; }

  // Days since 30 December 1899 00:00 local time, millisecond resolution.
  static double NowTimestamp();

  bool OwnsData = false;
  double Timestamp = 0.0;  // when the record was filled (NowTimestamp), for hosts
  uint8_t* Data = nullptr;
  uint32_t Length = 0;
  TKelNetPacket* Next = nullptr;
  int32_t SequenceNumber = 0;
  // What the capture library said of the frame: its time stamp (seconds and
  // microseconds since 1970, UTC) and its length on the wire, which exceeds
  // Length when the snapshot cut it. Zero when unknown; SetData clears them,
  // CopyFrom copies them.
  int64_t CaptureSeconds = 0;
  uint32_t CaptureMicroseconds = 0;
  uint32_t WireLength = 0;

 private:
  // The fill time, capture time stamp and wire length of the source.
  void KeepStampsOf(const TKelNetPacket& source);
};
