#include "pcapfile/capture_format.h"

#include <algorithm>
#include <cstring>

namespace netvane {
namespace {

constexpr uint32_t kLinkEthernet = 1;
constexpr uint32_t kPcapHeaderBytes = 24;
// pcapng block types.
constexpr uint32_t kSectionHeader = kPcapngSectionHeader;
constexpr uint32_t kInterface = 1;
constexpr uint32_t kObsoletePacket = 2;
constexpr uint32_t kSimplePacket = 3;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
// A file may hold no more sections or interfaces than this: what is kept of
// them stays small whatever the file says.
constexpr std::size_t kMaxSections = 65536;
constexpr std::size_t kMaxInterfaces = 65536;

uint32_t Raw32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

std::string Bytes(uint64_t n) {
  return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

}  // namespace

const CaptureMagic* FindCaptureMagic(std::span<const uint8_t> head, bool* swapped) {
  if (head.size() < 4) return nullptr;
  const uint32_t magic = Raw32(head.data());
  for (const CaptureMagic& m : kCaptureMagics) {
    if (magic != m.magic && magic != __builtin_bswap32(m.magic)) continue;
    if (swapped != nullptr) *swapped = magic != m.magic;
    return &m;
  }
  return nullptr;
}

uint32_t CaptureFormat::U32(const uint8_t* p) const {
  const uint32_t v = Raw32(p);
  return swapped_ ? __builtin_bswap32(v) : v;
}

uint16_t CaptureFormat::U16(const uint8_t* p) const {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return swapped_ ? __builtin_bswap16(v) : v;
}

void CaptureFormat::Reset() {
  ng_ = swapped_ = nanoseconds_ = false;
  recordHeader_ = kPcapRecordHeaderBytes;
  const std::lock_guard lock(lock_);
  sections_.clear();
  interfaces_.clear();
}

bool CaptureFormat::Start(std::span<const uint8_t> head, uint64_t& headerBytes, std::string& error) {
  Reset();
  bool swapped = false;
  const CaptureMagic* m = FindCaptureMagic(head, &swapped);
  if (m != nullptr && m->pcapng) {
    // The section header's own byte-order magic number sets the byte order.
    ng_ = true;
    headerBytes = 0;  // the section header block is the first record
    return true;
  }
  if (head.size() < kPcapHeaderBytes) {
    error = "the file is too short for a capture file header";
    return false;
  }
  if (m == nullptr) {
    error = "it is not a pcap or pcapng file";
    return false;
  }
  swapped_ = swapped;
  nanoseconds_ = m->nanoseconds;
  recordHeader_ = m->recordHeader;
  // The upper bits of the link type may carry the frame check sequence's length.
  const uint32_t link = U32(head.data() + 20) & 0xFFFF;
  if (link != kLinkEthernet) {
    error = "its link type is " + std::to_string(link) + ", not Ethernet";
    return false;
  }
  headerBytes = kPcapHeaderBytes;
  return true;
}

void CaptureFormat::StartOwn() {
  Reset();
}

CaptureFormat::Step CaptureFormat::Next(std::span<const uint8_t> bytes, uint64_t at, FrameRecord& frame,
                                        uint64_t& need, std::string& error) {
  return ng_ ? NextBlock(bytes, at, frame, need, error) : NextPcap(bytes, frame, need, error);
}

CaptureFormat::Step CaptureFormat::NextPcap(std::span<const uint8_t> bytes, FrameRecord& frame,
                                            uint64_t& need, std::string& error) const {
  if (bytes.size() < recordHeader_) {
    need = recordHeader_;
    return Step::More;
  }
  if (!ReadFrame(bytes, 0, frame)) {
    error = "a record claims " + Bytes(U32(bytes.data() + 8)) + ", more than the largest frame (" +
            std::to_string(kMaxFrameBytes) + ")";
    return Step::Damaged;
  }
  if (bytes.size() < frame.size) {
    need = frame.size;
    return Step::More;
  }
  return Step::Frame;
}

CaptureFormat::Step CaptureFormat::NextBlock(std::span<const uint8_t> bytes, uint64_t at, FrameRecord& frame,
                                             uint64_t& need, std::string& error) {
  // A section header's length is in the byte order that its own magic number gives.
  const bool section = bytes.size() >= 4 && Raw32(bytes.data()) == kSectionHeader;
  need = section ? 12 : 8;
  if (bytes.size() < need) return Step::More;
  if (section) {
    const uint32_t order = Raw32(bytes.data() + 8);
    if (order != kByteOrderMagic && order != __builtin_bswap32(kByteOrderMagic)) {
      error = "a section header without a byte-order magic number";
      return Step::Damaged;
    }
    const bool swapped = order != kByteOrderMagic;
    if (at > 0 && swapped != swapped_) {
      error = "the file has sections of different byte orders";
      return Step::Damaged;
    }
    // Set by the first section only: later ones come while other threads read
    // frames through ReadFrame, which reads the byte order without the lock.
    if (at == 0) swapped_ = swapped;
  }
  const uint32_t type = U32(bytes.data());
  const uint32_t total = U32(bytes.data() + 4);
  if (total < 12 || total % 4 != 0 || total > kMaxBlockBytes) {
    error = "a block of " + Bytes(total) + " (blocks have 12 to " + std::to_string(kMaxBlockBytes) +
            ", a multiple of 4)";
    return Step::Damaged;
  }
  need = total;
  if (bytes.size() < total) return Step::More;
  const std::span<const uint8_t> block = bytes.first(total);
  if (U32(block.data() + total - 4) != total) {
    error = "a block whose length at its end differs from its length at its start";
    return Step::Damaged;
  }
  frame = {};
  frame.size = total;
  switch (type) {
    case kSectionHeader:
      return TakeSection(block, at, error) ? Step::Other : Step::Damaged;
    case kInterface:
      return TakeInterface(block, error) ? Step::Other : Step::Damaged;
    case kEnhancedPacket:
    case kSimplePacket:
    case kObsoletePacket:
      return PacketBlock(block, at, frame, error) ? Step::Frame : Step::Damaged;
    default:
      return Step::Other;  // statistics, name resolution, custom blocks...
  }
}

bool CaptureFormat::TakeSection(std::span<const uint8_t> block, uint64_t at, std::string& error) {
  if (block.size() < 28) {
    error = "a section header block too short for its fields";
    return false;
  }
  const uint16_t major = U16(block.data() + 12);
  if (major != 1) {
    error = "pcapng version " + std::to_string(major) + "." + std::to_string(U16(block.data() + 14)) +
            " is not read";
    return false;
  }
  const std::lock_guard lock(lock_);
  if (sections_.size() >= kMaxSections) {
    error = "more than " + std::to_string(kMaxSections) + " sections";
    return false;
  }
  sections_.push_back({at, static_cast<uint32_t>(interfaces_.size()), 0});
  return true;
}

bool CaptureFormat::TakeInterface(std::span<const uint8_t> block, std::string& error) {
  if (block.size() < 20) {
    error = "an interface description block too short for its fields";
    return false;
  }
  const uint32_t link = U16(block.data() + 8);
  if (link != kLinkEthernet) {
    error = "an interface of link type " + std::to_string(link) + ", not Ethernet";
    return false;
  }
  Interface i;
  i.snapLength = U32(block.data() + 12);
  // Options, each a code, a length and a value padded to 4 bytes, up to the
  // end-of-options code or the block's trailing length.
  const std::size_t end = block.size() - 4;
  for (std::size_t p = 16; p + 4 <= end;) {
    const uint16_t code = U16(block.data() + p), length = U16(block.data() + p + 2);
    if (code == 0) break;
    const std::size_t value = p + 4;
    if (value + length > end) {
      error = "an interface description whose options pass its end";
      return false;
    }
    if (code == 9 && length >= 1) {  // if_tsresol
      const uint8_t r = block[value];
      const uint32_t exponent = r & 0x7F;
      i.binaryUnits = (r & 0x80) != 0;
      if (exponent > (i.binaryUnits ? 63u : 19u)) {
        error = "an interface whose time stamp resolution is too fine";
        return false;
      }
      i.unitsPerSecond = 1;
      for (uint32_t k = 0; k < exponent; ++k) i.unitsPerSecond *= i.binaryUnits ? 2 : 10;
    } else if (code == 14 && length == 8) {  // if_tsoffset
      uint64_t v;
      std::memcpy(&v, block.data() + value, 8);
      i.offsetSeconds = static_cast<int64_t>(swapped_ ? __builtin_bswap64(v) : v);
    }
    p = value + (length + 3u) / 4u * 4u;
  }
  const std::lock_guard lock(lock_);
  if (sections_.empty()) {
    error = "an interface description before any section header";
    return false;
  }
  if (interfaces_.size() >= kMaxInterfaces) {
    error = "more than " + std::to_string(kMaxInterfaces) + " interfaces";
    return false;
  }
  interfaces_.push_back(i);
  ++sections_.back().interfaces;
  return true;
}

bool CaptureFormat::PacketBlock(std::span<const uint8_t> bytes, uint64_t at, FrameRecord& frame,
                                std::string& error) const {
  const uint32_t type = U32(bytes.data());
  const uint32_t total = U32(bytes.data() + 4);
  const bool simple = type == kSimplePacket;
  const uint32_t fixed = simple ? 12 : 28;  // block header and the fields before the frame
  if (bytes.size() < fixed || total < fixed + 4) {
    error = "a packet block too short for its fields";
    return false;
  }
  uint32_t interface = 0;
  if (type == kEnhancedPacket) interface = U32(bytes.data() + 8);
  if (type == kObsoletePacket) interface = U16(bytes.data() + 8);
  Interface i;
  {
    const std::lock_guard lock(lock_);
    // The section the block lies in: the last one that starts at or before it.
    auto s = std::upper_bound(sections_.begin(), sections_.end(), at,
                              [](uint64_t a, const Section& x) { return a < x.start; });
    if (s == sections_.begin() || interface >= (s - 1)->interfaces) {
      error = "a packet of interface " + std::to_string(interface) + ", which its section does not describe";
      return false;
    }
    i = interfaces_[(s - 1)->firstInterface + interface];
  }
  frame.size = total;
  frame.dataOffset = fixed;
  const uint32_t room = total - fixed - 4;
  if (simple) {
    frame.wireLength = U32(bytes.data() + 8);
    frame.capturedLength = std::min(frame.wireLength, room);
    if (i.snapLength > 0) frame.capturedLength = std::min(frame.capturedLength, i.snapLength);
    frame.seconds = 0;
    frame.microseconds = 0;
  } else {
    frame.capturedLength = U32(bytes.data() + 20);
    frame.wireLength = U32(bytes.data() + 24);
    const uint64_t t = uint64_t{U32(bytes.data() + 12)} << 32 | U32(bytes.data() + 16);
    frame.seconds = static_cast<int64_t>(t / i.unitsPerSecond) + i.offsetSeconds;
    frame.microseconds = static_cast<uint32_t>(static_cast<unsigned __int128>(t % i.unitsPerSecond) *
                                               1000000 / i.unitsPerSecond);
  }
  if (frame.capturedLength > room || frame.capturedLength > kMaxFrameBytes) {
    error = "a packet block whose " + Bytes(frame.capturedLength) + " pass its end or the largest frame";
    return false;
  }
  return true;
}

bool CaptureFormat::ReadFrame(std::span<const uint8_t> bytes, uint64_t at, FrameRecord& frame) const {
  if (!ng_) {
    if (bytes.size() < recordHeader_) return false;
    const uint8_t* h = bytes.data();
    frame.capturedLength = U32(h + 8);
    frame.wireLength = U32(h + 12);
    frame.seconds = U32(h);
    frame.microseconds = nanoseconds_ ? U32(h + 4) / 1000 : U32(h + 4);
    frame.dataOffset = recordHeader_;
    frame.size = uint64_t{recordHeader_} + frame.capturedLength;
    return frame.capturedLength <= kMaxFrameBytes;
  }
  if (bytes.size() < 8) return false;
  const uint32_t type = U32(bytes.data());
  const uint32_t total = U32(bytes.data() + 4);
  if (type != kEnhancedPacket && type != kSimplePacket && type != kObsoletePacket) return false;
  if (total % 4 != 0 || total > kMaxBlockBytes) return false;
  std::string ignored;
  return PacketBlock(bytes, at, frame, ignored);
}

}  // namespace netvane
