// Drive roots from the mount table, the drive of a path, trailing separators.
#include "app/Form2_drives.h"

#include <gtest/gtest.h>

using namespace netvane;

namespace {

TEST(DriveRoots, KeepsWritableFileSystemsAndDropsThePseudoOnes) {
  const QString mounts =
      "proc /proc proc rw,relatime 0 0\n"
      "sysfs /sys sysfs rw 0 0\n"
      "devtmpfs /dev devtmpfs rw 0 0\n"
      "tmpfs /dev/shm tmpfs rw 0 0\n"
      "/dev/vda / ext4 rw,relatime 0 0\n"
      "/dev/vdb1 /home ext4 rw 0 0\n"
      "tmpfs /tmp tmpfs rw,nosuid 0 0\n"
      "tmpfs /run tmpfs rw 0 0\n"
      "tmpfs /run/user/1000 tmpfs rw 0 0\n"
      "/dev/sr0 /media/cdrom iso9660 ro 0 0\n"
      "/dev/loop0 /snap/core/1 squashfs ro 0 0\n"
      "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
      "/dev/vda /etc/hosts ext4 rw 0 0\n"  // a bind-mounted file
      "/dev/sdb1 /media/usb\\040stick vfat rw 0 0\n"
      "/dev/sdc1 /mnt/caf\\303\\251 ext4 rw 0 0\n"
      "/dev/vdb1 /home ext4 rw 0 0\n"  // mounted twice
      "broken line\n"
      "\n";
  const auto isDir = [](const QString& p) { return p != "/etc/hosts"; };
  EXPECT_EQ(DriveRoots(mounts, isDir),
            (QStringList{"/", "/home", "/media/usb stick", QString::fromUtf8("/mnt/café"), "/tmp"}));
}

TEST(DriveRoots, TheRootIsAlwaysThere) {
  const auto any = [](const QString&) { return true; };
  EXPECT_EQ(DriveRoots("", any), QStringList{"/"});
  EXPECT_EQ(DriveRoots("overlay / overlay ro 0 0\n", any), QStringList{"/"});
}

TEST(DriveRoots, ThisMachineListsTheRootFirst) {
  const QStringList roots = MountedDriveRoots();
  ASSERT_FALSE(roots.isEmpty());
  EXPECT_EQ(roots.front(), "/");
  EXPECT_EQ(roots.count("/"), 1);
}

TEST(DriveOf, TakesTheLongestRootThatHoldsThePath) {
  const QStringList roots = {"/", "/home", "/home/user/data", "/media/usb"};
  struct Case {
    const char* path;
    const char* drive;
  };
  const Case cases[] = {
      {"/", "/"},
      {"/etc", "/"},
      {"/home", "/home"},
      {"/home/user", "/home"},
      {"/home/user/data/x", "/home/user/data"},
      {"/homework", "/"},  // a common prefix is not a parent directory
      {"/media/usb2/f", "/"},
      {"/media/usb/f", "/media/usb"},
  };
  for (const Case& c : cases) EXPECT_EQ(DriveOf(c.path, roots), c.drive) << c.path;
}

TEST(WithTrailingSlash, AddsExactlyOneSeparator) {
  EXPECT_EQ(WithTrailingSlash("/"), "/");
  EXPECT_EQ(WithTrailingSlash("/mnt"), "/mnt/");
  EXPECT_EQ(WithTrailingSlash("/mnt/"), "/mnt/");
}

}  // namespace
