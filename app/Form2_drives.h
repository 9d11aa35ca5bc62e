#pragma once
// Drives on a system without drive letters: the save dialog's drive selector
// lists the roots of the mounted file systems that can hold a saved packet.

#include <QString>
#include <QStringList>

#include <functional>

namespace netvane {

// Mount points taken from text in the format of /proc/self/mounts. Kernel
// pseudo file systems, mounts below /proc, /sys, /dev and /run, read-only
// mounts and mount points that are not directories (bind-mounted files) are
// left out; "/" is always listed first, the rest follow sorted, each once.
QStringList DriveRoots(const QString& mountsText, const std::function<bool(const QString&)>& isDirectory);
// DriveRoots of this process's mount table.
QStringList MountedDriveRoots();
// The root among `roots` that holds `path`: the longest one that is `path`
// itself or one of its ancestors; "/" when none is.
QString DriveOf(const QString& path, const QStringList& roots);
// A directory written with exactly one trailing "/": "/" stays "/", "/mnt" gives "/mnt/".
QString WithTrailingSlash(const QString& directory);

}  // namespace netvane
