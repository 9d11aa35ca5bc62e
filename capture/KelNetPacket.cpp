// One captured frame: owned or borrowed bytes, arrival index and fill time.
#include "capture/KelNetPacket.h"

#include <chrono>
#include <cstring>
#include <ctime>

TKelNetPacket::TKelNetPacket() = default;

TKelNetPacket::TKelNetPacket(const uint8_t* bytes, uint32_t length, int32_t sequenceNumber, bool copy) {
  SetData(bytes, length, sequenceNumber, copy);
}

TKelNetPacket::~TKelNetPacket() {
  FreeData();
}

void TKelNetPacket::SetData(const uint8_t* bytes, uint32_t length, int32_t sequenceNumber, bool copy) {
  FreeData();
  Length = length;
  SequenceNumber = sequenceNumber;
  if (copy) {
    // An empty frame gets no buffer: nothing to own, nothing that could leak.
    if (length > 0 && bytes != nullptr) {
      Data = new uint8_t[length];
      std::memcpy(Data, bytes, length);
      OwnsData = true;
    } else {
      Data = nullptr;
      OwnsData = false;
      if (bytes == nullptr) Length = 0;  // no bytes to copy: never claim any
    }
  } else {
    Data = const_cast<uint8_t*>(bytes);
    OwnsData = false;
  }
  Timestamp = NowTimestamp();
  CaptureSeconds = 0;
  CaptureMicroseconds = 0;
  WireLength = 0;
}

void TKelNetPacket::FreeData() {
  // Only an owned buffer is released; a borrowed pointer and its length stay.
  // The length is not consulted: an owned buffer is released even if a caller
  // zeroed Length by hand, so it cannot leak.
  if (OwnsData && Data != nullptr) {
    delete[] Data;
    OwnsData = false;
    Length = 0;
    Data = nullptr;
  }
}

void TKelNetPacket::CopyFrom(const TKelNetPacket& source, bool copy) {
  // Copying a record into itself would free the bytes before reading them.
  if (&source == this) return;
  SetData(source.Data, source.Length, source.SequenceNumber, copy);
  KeepStampsOf(source);
}

void TKelNetPacket::KeepStampsOf(const TKelNetPacket& source) {
  Timestamp = source.Timestamp;
  CaptureSeconds = source.CaptureSeconds;
  CaptureMicroseconds = source.CaptureMicroseconds;
  WireLength = source.WireLength;
}

void TKelNetPacket::MoveFrom(TKelNetPacket& source) {
  if (!source.OwnsData) {
    CopyFrom(source, true);
    return;
  }
  if (&source == this) return;
  FreeData();
  Data = source.Data;
  Length = source.Length;
  OwnsData = true;
  SequenceNumber = source.SequenceNumber;
  KeepStampsOf(source);
  source.Data = nullptr;
  source.Length = 0;
  source.OwnsData = false;
}

namespace {
// Days from 1 Jan 1970 to the civil date (proleptic Gregorian), after H. Hinnant.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}
}  // namespace

double TKelNetPacket::NowTimestamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
  std::time_t secs = static_cast<std::time_t>(ms / 1000);
  long long millis = ms % 1000;
  if (millis < 0) {  // before 1970: keep the millisecond part positive
    millis += 1000;
    --secs;
  }
  std::tm local{};
  localtime_r(&secs, &local);
  // 30 Dec 1899 is day 0 of the count; it lies 25569 days before 1 Jan 1970.
  const long long day = DaysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                                      static_cast<unsigned>(local.tm_mday)) +
                        25569;
  const long long msOfDay = ((local.tm_hour * 60LL + local.tm_min) * 60LL + local.tm_sec) * 1000LL + millis;
  return static_cast<double>(day) + static_cast<double>(msOfDay) / 86400000.0;
}
