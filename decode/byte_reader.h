#pragma once
// The one way decoding code reads frame bytes. Every read is checked against
// the frame's captured length; a read that would leave the frame yields zeros
// (callers ask Has() first when a missing field must change what is shown).

#include <cstddef>
#include <cstdint>
#include <span>

namespace netvane {

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  std::size_t size() const { return bytes_.size(); }

  // True when bytes [offset, offset + count) all lie inside the frame.
  // Written so that a huge offset or count cannot wrap around.
  bool Has(std::size_t offset, std::size_t count) const {
    return offset <= bytes_.size() && count <= bytes_.size() - offset;
  }

  uint8_t U8(std::size_t offset) const { return Has(offset, 1) ? bytes_[offset] : 0; }

  // Big-endian, as every multi-byte header field is stored on the wire.
  uint16_t U16(std::size_t offset) const {
    if (!Has(offset, 2)) return 0;
    return static_cast<uint16_t>(bytes_[offset] << 8 | bytes_[offset + 1]);
  }

  uint32_t U32(std::size_t offset) const {
    if (!Has(offset, 4)) return 0;
    return uint32_t{bytes_[offset]} << 24 | uint32_t{bytes_[offset + 1]} << 16 |
           uint32_t{bytes_[offset + 2]} << 8 | uint32_t{bytes_[offset + 3]};
  }

  // The bytes [offset, offset + count), or an empty span when they are not all there.
  std::span<const uint8_t> Slice(std::size_t offset, std::size_t count) const {
    if (!Has(offset, count)) return {};
    return bytes_.subspan(offset, count);
  }

 private:
  std::span<const uint8_t> bytes_;
};

}  // namespace netvane
