// The write of a saved frame's file, which never loses data silently.
#include "app/packet_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using netvane::WritePacketFile;

namespace {

QByteArray Read(const QString& name) {
  QFile f(name);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

class WritePacketFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    dir = tmp.path();
  }
  QTemporaryDir tmp;
  QString dir;
};

TEST_F(WritePacketFileTest, WritesNewAndReplacesExistingFilesWhole) {
  const QString name = dir + "/f.bin";
  EXPECT_TRUE(WritePacketFile(name, QByteArray("\x01\x02\x00\x03", 4)));
  EXPECT_EQ(Read(name), QByteArray("\x01\x02\x00\x03", 4));
  // A shorter content leaves nothing of the longer one behind.
  EXPECT_TRUE(WritePacketFile(name, "ab"));
  EXPECT_EQ(Read(name), "ab");
  EXPECT_TRUE(WritePacketFile(name, QByteArray()));
  EXPECT_EQ(QFileInfo(name).size(), 0);
  EXPECT_TRUE(QDir(dir).entryList(QDir::Files | QDir::Hidden).size() == 1)
      << "no temporary file is left behind";
}

TEST_F(WritePacketFileTest, ReplacingKeepsPermissionsAndWritesThroughSymbolicLinks) {
  const QString target = dir + "/target.bin";
  ASSERT_TRUE(WritePacketFile(target, "old"));
  ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0640), 0);
  ASSERT_TRUE(QFile::link(target, dir + "/link.bin"));
  EXPECT_TRUE(WritePacketFile(dir + "/link.bin", "new"));
  EXPECT_TRUE(QFileInfo(dir + "/link.bin").isSymLink());
  EXPECT_EQ(Read(target), "new");
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(WritePacketFileTest, FailuresReturnFalseWithAReason) {
  ASSERT_TRUE(QDir(dir).mkdir("sub"));
  const QString fifo = dir + "/fifo";
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  struct Case {
    const char* name;
    QString file;
  };
  const Case cases[] = {
      {"empty name", ""},
      {"directory", dir + "/sub"},
      {"missing directory", dir + "/none/f.bin"},
      {"full device", "/dev/full"},
      // A pipe nobody reads must fail at once instead of blocking the window.
      {"fifo without reader", fifo},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QString reason;
    EXPECT_FALSE(WritePacketFile(c.file, "some bytes", &reason));
    EXPECT_FALSE(reason.isEmpty());
  }
  EXPECT_TRUE(QFileInfo(dir + "/sub").isDir());
}

TEST_F(WritePacketFileTest, DeviceFilesAreWrittenInPlace) {
  EXPECT_TRUE(WritePacketFile("/dev/null", "discarded"));
  EXPECT_TRUE(QFileInfo("/dev/null").exists());
  EXPECT_FALSE(QFileInfo("/dev/null").isFile()) << "the device must not be replaced by a file";
}

}  // namespace
