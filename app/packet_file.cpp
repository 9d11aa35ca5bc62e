#include "app/packet_file.h"

#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace netvane {
namespace {

bool Fail(QString* reason, const QString& why) {
  if (reason) *reason = why;
  return false;
}

// A FIFO without a reader would block open() and a full pipe would block
// write(); O_NONBLOCK turns both into errors, so a save can never hang.
bool WriteInPlace(const QString& name, QByteArrayView content, QString* reason) {
  const QByteArray path = QFile::encodeName(name);
  const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return Fail(reason, QString::fromLocal8Bit(std::strerror(errno)));
  const char* p = content.data();
  qsizetype left = content.size();
  // Each round writes at least one byte or ends the loop, so it is bounded by the size.
  while (left > 0) {
    const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const QString why = n < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : "nothing written";
      ::close(fd);
      return Fail(reason, why);
    }
    p += n;
    left -= n;
  }
  if (::close(fd) != 0) return Fail(reason, QString::fromLocal8Bit(std::strerror(errno)));
  return true;
}

}  // namespace

bool WritePacketFile(const QString& name, QByteArrayView content, QString* reason) {
  if (name.isEmpty()) return Fail(reason, "no file name");
  const QFileInfo info(name);
  if (info.isDir()) return Fail(reason, "is a directory");
  if (info.exists() && !info.isFile()) return WriteInPlace(name, content, reason);

  QSaveFile file(name);
  file.setDirectWriteFallback(true);
  if (!file.open(QIODevice::WriteOnly)) return Fail(reason, file.errorString());
  if (file.write(content.data(), content.size()) != content.size()) {
    const QString why = file.errorString();
    file.cancelWriting();
    return Fail(reason, why);
  }
  // commit() flushes, closes and renames; any failure there is a failed save.
  if (!file.commit()) return Fail(reason, file.errorString());
  return true;
}

}  // namespace netvane
