#include "app/Form2_drives.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace netvane {
namespace {

// File systems that hold no user files.
const QSet<QString> kPseudoTypes = {"proc",        "sysfs",       "devtmpfs",   "devpts",   "cgroup",
                                    "cgroup2",     "securityfs",  "debugfs",    "tracefs",  "pstore",
                                    "bpf",         "mqueue",      "hugetlbfs",  "configfs", "fusectl",
                                    "autofs",      "binfmt_misc", "rpc_pipefs", "nsfs",     "efivarfs",
                                    "selinuxfs",   "nfsd",        "ramfs",      "squashfs", "fuse.gvfsd-fuse",
                                    "fuse.portal", "rootfs"};

// Mount points are written with blanks, tabs, newlines and backslashes as
// three-digit octal escapes of their bytes; names are UTF-8.
QString Unescape(const QString& field) {
  const QByteArray in = field.toUtf8();
  QByteArray out;
  out.reserve(in.size());
  for (qsizetype i = 0; i < in.size(); ++i) {
    if (in[i] == '\\' && i + 3 < in.size()) {
      const QByteArray digits = in.mid(i + 1, 3);
      if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        out += static_cast<char>(digits.toInt(nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += in[i];
  }
  return QString::fromUtf8(out);
}

bool Below(const QString& path, const QString& dir) {
  return path == dir || path.startsWith(dir + '/');
}

}  // namespace

QStringList DriveRoots(const QString& mountsText, const std::function<bool(const QString&)>& isDirectory) {
  QStringList roots;
  const QStringList lines = mountsText.split('\n', Qt::SkipEmptyParts);
  for (const QString& line : lines) {
    const QStringList f = line.split(' ', Qt::SkipEmptyParts);
    if (f.size() < 4) continue;
    const QString point = Unescape(f[1]);
    const QString& type = f[2];
    const QStringList options = f[3].split(',');
    if (!point.startsWith('/') || point == "/") continue;
    if (kPseudoTypes.contains(type)) continue;
    if (Below(point, "/proc") || Below(point, "/sys") || Below(point, "/dev") || Below(point, "/run")) {
      continue;
    }
    if (options.contains("ro")) continue;
    if (!isDirectory(point)) continue;
    if (!roots.contains(point)) roots.append(point);
  }
  std::sort(roots.begin(), roots.end());
  roots.prepend("/");
  return roots;
}

QStringList MountedDriveRoots() {
  QFile f("/proc/self/mounts");
  QString text;
  // The file reports size 0; read it to its end in one go.
  if (f.open(QIODevice::ReadOnly)) text = QString::fromUtf8(f.readAll());
  return DriveRoots(text, [](const QString& p) { return QFileInfo(p).isDir(); });
}

QString DriveOf(const QString& path, const QStringList& roots) {
  QString best = "/";
  for (const QString& r : roots) {
    if (r != "/" && Below(path, r) && r.size() > best.size()) best = r;
  }
  return best;
}

QString WithTrailingSlash(const QString& directory) {
  return directory.endsWith('/') ? directory : directory + '/';
}

}  // namespace netvane
