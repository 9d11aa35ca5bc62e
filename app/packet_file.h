#pragma once
// Saved packet files: the binary format (the frame's bytes as stored) and the
// hex text format (the hex dump text, three characters per byte), neither with
// a header, a length or anything after the data.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <span>

namespace netvane {

enum class PacketFormat { Binary, Hex };

// The file content for a frame: its bytes, or the hex dump text as 8-bit characters.
QByteArray PacketFileContent(PacketFormat format, std::span<const uint8_t> frame, const QString& hexText);

// Writes `content` as the whole file `name`. True only when every byte reached
// the file and it was closed without error; otherwise false with the reason.
// A regular file is replaced through a temporary file in the same directory,
// so a failed save leaves an existing file as it was (where the directory
// does not allow that, the file is written in place). Device files and pipes
// are written in place, without blocking; directories are refused.
bool WritePacketFile(const QString& name, QByteArrayView content, QString* reason = nullptr);

}  // namespace netvane
