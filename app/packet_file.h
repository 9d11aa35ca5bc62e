#pragma once
// Writing a saved frame's file (its content: pcapfile/saved_file.h) so that a
// save never loses data silently.

#include <QByteArrayView>
#include <QString>

namespace netvane {

// Writes `content` as the whole file `name`. True only when every byte reached
// the file and it was closed without error; otherwise false with the reason.
// A regular file is replaced through a temporary file in the same directory,
// so a failed save leaves an existing file as it was (where the directory
// does not allow that, the file is written in place). Device files and pipes
// are written in place, without blocking; directories are refused.
bool WritePacketFile(const QString& name, QByteArrayView content, QString* reason = nullptr);

}  // namespace netvane
