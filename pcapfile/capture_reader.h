#pragma once
// Reads capture files through libpcap's own reader: pcap with micro- or
// nanosecond time stamps, and pcapng. netvane-dump's file mode reads every
// capture file through this one class; the window's open has it read the file
// header (so both refuse a file alike), then indexes the file in place
// (frame_list.h).

#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "pcapfile/capture_format.h"  // LooksLikeCaptureFile

namespace netvane {

// One record as the reader hands it out; `bytes` stays valid until the next
// Next() or Close().
struct CaptureRecord {
  std::span<const uint8_t> bytes;
  int64_t seconds = 0;
  uint32_t microseconds = 0;  // nanosecond files are read in microseconds
  uint32_t wireLength = 0;
};

class CaptureReader {
 public:
  CaptureReader() = default;
  ~CaptureReader();
  CaptureReader(const CaptureReader&) = delete;
  CaptureReader& operator=(const CaptureReader&) = delete;

  // Reads from `stream`, positioned at the file's start; the reader owns the
  // stream from here on, also when opening fails. False when libpcap cannot
  // read the file's header; error() then holds libpcap's reason.
  bool Open(std::FILE* stream);

  // The file's link type as libpcap numbers it (DLT_EN10MB for Ethernet).
  int LinkType() const;
  bool IsEthernet() const { return LinkType() == DLT_EN10MB; }
  // libpcap's name of the link type ("RAW"), or its number when it has none.
  std::string LinkTypeName() const;

  enum class Step { Frame, End, Damaged };
  // The next record: Frame (filled in), End of the file, or Damaged (a
  // record that cannot be read, or a file cut short; error() says why).
  Step Next(CaptureRecord& record);

  const std::string& error() const { return error_; }
  void Close();

 private:
  pcap_t* pcap_ = nullptr;
  std::string error_;
};

}  // namespace netvane
