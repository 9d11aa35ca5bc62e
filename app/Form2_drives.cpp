#include "app/Form2_drives.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

#include "platform/mount_field.h"

namespace netvane {
namespace {

// File systems that hold no user files.
const QSet<QString> kPseudoTypes = {"proc",        "sysfs",       "devtmpfs",   "devpts",   "cgroup",
                                    "cgroup2",     "securityfs",  "debugfs",    "tracefs",  "pstore",
                                    "bpf",         "mqueue",      "hugetlbfs",  "configfs", "fusectl",
                                    "autofs",      "binfmt_misc", "rpc_pipefs", "nsfs",     "efivarfs",
                                    "selinuxfs",   "nfsd",        "ramfs",      "squashfs", "fuse.gvfsd-fuse",
                                    "fuse.portal", "rootfs"};

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
    const QString point = QString::fromUtf8(UnescapeMountField(f[1].toStdString()));
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
