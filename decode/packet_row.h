#pragma once
// The six cells of a packet-list row, computed from a frame's stored bytes.

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace netvane {

inline constexpr int kColumnCount = 6;
// A row reads no byte of its frame beyond these.
inline constexpr uint32_t kRowBytes = 42;
enum Column : int { kNumber = 0, kSourceCard, kDestinationCard, kSourceIp, kDestinationIp, kProtocol };

// Header texts of columns 0 to 5.
extern const std::array<const char*, kColumnCount> kColumnHeaders;

// One cell of the row of frame `number`. Cells whose bytes are missing are empty:
// the hardware addresses need bytes 0-5 and 6-11, each IP column its four bytes
// (26-29 and 30-33 for IP, 28-31 and 38-41 for ARP), the protocol cell bytes 12-13.
// An IP frame that ends before byte 23 shows "IP/" without a protocol name.
std::string RowCell(std::span<const uint8_t> frame, uint32_t number, int column);
std::array<std::string, kColumnCount> PacketRow(std::span<const uint8_t> frame, uint32_t number);

// The bytes that address cell `column` shows: 6 for a hardware address
// (kSourceCard, kDestinationCard), 4 for an IPv4 address (kSourceIp,
// kDestinationIp); empty when the cell is empty or `column` is no address cell.
std::span<const uint8_t> AddressCellBytes(std::span<const uint8_t> frame, int column);

// Appends cell `column` to `out` (no allocation of its own); used for bulk output.
void AppendRowCell(std::string& out, std::span<const uint8_t> frame, uint32_t number, int column);
// Appends the six cells joined by `separator` (no line end).
void AppendPacketRow(std::string& out, std::span<const uint8_t> frame, uint32_t number, char separator);

// Destination hardware address FF:FF:FF:FF:FF:FF (a frame shorter than 6 bytes is not broadcast).
bool IsBroadcast(std::span<const uint8_t> frame);
// The packet list's "Don't capture broadcast" rule, which netvane-dump's
// --no-broadcast follows too: a frame it leaves out is not listed, printed or
// written, and takes no number.
inline bool LeftOut(std::span<const uint8_t> frame, bool leaveOutBroadcast) {
  return leaveOutBroadcast && IsBroadcast(frame);
}

}  // namespace netvane
