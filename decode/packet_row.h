#pragma once
// The six cells of a packet-list row, computed from a frame's stored bytes.

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace netvane {

inline constexpr int kColumnCount = 6;
enum Column : int { kNumber = 0, kSourceCard, kDestinationCard, kSourceIp, kDestinationIp, kProtocol };

// Header texts of columns 0 to 5.
extern const std::array<const char*, kColumnCount> kColumnHeaders;

// One cell of the row of frame `number`. Cells whose bytes are missing are empty.
std::string RowCell(std::span<const uint8_t> frame, uint32_t number, int column);
std::array<std::string, kColumnCount> PacketRow(std::span<const uint8_t> frame, uint32_t number);

// Destination hardware address FF:FF:FF:FF:FF:FF (a frame shorter than 6 bytes is not broadcast).
bool IsBroadcast(std::span<const uint8_t> frame);

}  // namespace netvane
