#pragma once
// The record structure of capture files, read without libpcap so that a file
// can be indexed in place and any one frame read again later: pcap with micro-
// or nanosecond time stamps (and the variant with 24-byte record headers) in
// either byte order, and pcapng (section header, interface description,
// enhanced, simple and obsolete packet blocks; other blocks are skipped).
// Only the bytes handed in are read; every length is checked against them.
// Ethernet captures only: an interface of another link type is damage.

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "decode/frame_size.h"

namespace netvane {

// A pcapng block larger than this is taken for damage.
inline constexpr uint32_t kMaxBlockBytes = 16u << 20;

// A pcap record's header: time stamp (seconds, fraction), captured length,
// wire length, 4 bytes each. The files Netvane writes have it.
inline constexpr uint32_t kPcapRecordHeaderBytes = 16;
// The block type of a pcapng section header, the first block of a file.
inline constexpr uint32_t kPcapngSectionHeader = 0x0A0D0D0A;

// The capture file magic numbers, as the file's first 4 bytes read in the
// writer's byte order: pcap (micro- or nanosecond time stamps, or 24-byte
// record headers) and a pcapng section header block.
struct CaptureMagic {
  uint32_t magic;
  bool pcapng;
  bool nanoseconds;
  uint32_t recordHeader;  // pcap only
};
inline constexpr CaptureMagic kCaptureMagics[] = {
    {0xA1B2C3D4, false, false, kPcapRecordHeaderBytes},
    {0xA1B23C4D, false, true, kPcapRecordHeaderBytes},
    {0xA1B2CD34, false, false, 24},
    {kPcapngSectionHeader, true, false, 0},
};

// The magic number the first bytes hold, in either byte order; null when
// they hold none. Anything else is taken for a saved frame, so a frame file
// that happens to start with such bytes would be misread; the magic numbers
// are not plausible Ethernet destinations.
const CaptureMagic* FindCaptureMagic(std::span<const uint8_t> head, bool* swapped = nullptr);
inline bool LooksLikeCaptureFile(std::span<const uint8_t> head) {
  return FindCaptureMagic(head) != nullptr;
}

// What a frame's record says of it.
struct FrameRecord {
  uint64_t size = 0;        // bytes of the whole record or block
  uint32_t dataOffset = 0;  // where the frame's bytes start within it
  uint32_t capturedLength = 0;
  uint32_t wireLength = 0;  // as recorded (may be below capturedLength in a bad file)
  int64_t seconds = 0;
  uint32_t microseconds = 0;
};

class CaptureFormat {
 public:
  // Bytes that always hold a frame record's header (ReadFrame needs no more).
  static constexpr uint32_t kFrameHeaderBytes = 28;

  // Takes the file's first bytes. False, with the reason, when they are no
  // pcap or pcapng file header; else `headerBytes` is where the first record
  // starts (a pcapng section header block counts as a record).
  bool Start(std::span<const uint8_t> head, uint64_t& headerBytes, std::string& error);
  // Forgets the file: as newly made.
  void Reset();
  // A pcap file of our own: native byte order, microseconds, 16-byte records.
  void StartOwn();

  enum class Step { Frame, Other, More, Damaged };
  // Reads the record starting at file offset `at`, whose bytes (as far as
  // they were read) are `bytes`. Frame: `frame` describes it. Other: a block
  // without a frame, `frame.size` long. More: the record needs `need` bytes
  // and fewer were handed in. Damaged: `error` says why. Section headers and
  // interface descriptions are taken in here; call in file order.
  Step Next(std::span<const uint8_t> bytes, uint64_t at, FrameRecord& frame, uint64_t& need,
            std::string& error);

  // Reads the header of the frame record at `at` again, from `bytes` (at least
  // its first kFrameHeaderBytes, or what the file has). False when it is no
  // frame record of this file (the file has changed since it was indexed).
  // Safe while another thread calls Next.
  bool ReadFrame(std::span<const uint8_t> bytes, uint64_t at, FrameRecord& frame) const;

  // Records follow one another without gaps (pcap): a frame's record ends
  // where the next one starts.
  bool contiguous() const { return !ng_; }

 private:
  struct Interface {
    uint32_t snapLength = 0;
    uint64_t unitsPerSecond = 1000000;
    bool binaryUnits = false;  // unitsPerSecond is a power of two
    int64_t offsetSeconds = 0;
  };
  struct Section {
    uint64_t start = 0;
    uint32_t firstInterface = 0;
    uint32_t interfaces = 0;
  };

  uint32_t U32(const uint8_t* p) const;
  uint16_t U16(const uint8_t* p) const;
  Step NextPcap(std::span<const uint8_t> bytes, FrameRecord& frame, uint64_t& need, std::string& error) const;
  Step NextBlock(std::span<const uint8_t> bytes, uint64_t at, FrameRecord& frame, uint64_t& need,
                 std::string& error);
  bool TakeSection(std::span<const uint8_t> block, uint64_t at, std::string& error);
  bool TakeInterface(std::span<const uint8_t> block, std::string& error);
  // A packet block's header; false with the reason.
  bool PacketBlock(std::span<const uint8_t> bytes, uint64_t at, FrameRecord& frame, std::string& error) const;

  // Set by Start and the first section header, before any frame is read;
  // fixed from then on, so ReadFrame reads them without the lock.
  bool ng_ = false;
  bool swapped_ = false;
  bool nanoseconds_ = false;
  uint32_t recordHeader_ = kPcapRecordHeaderBytes;
  mutable std::mutex lock_;        // sections_ and interfaces_: Next adds, ReadFrame reads
  std::vector<Section> sections_;  // in file order
  std::vector<Interface> interfaces_;
};

}  // namespace netvane
