// The packet record (owning and borrowing, copies, time stamps) and the FIFO
// primitives as the component exposes them.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QStatusBar>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/fake_driver.h"

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> v) {
  return std::vector<uint8_t>(v.begin(), v.end());
}

// --- record ---------------------------------------------------------------------------

TEST(PacketRecord, DefaultIsEmpty) {
  TKelNetPacket p;
  EXPECT_FALSE(p.OwnsData);
  EXPECT_EQ(p.Timestamp, 0.0);
  EXPECT_EQ(p.Data, nullptr);
  EXPECT_EQ(p.Length, 0u);
  EXPECT_EQ(p.Next, nullptr);
  EXPECT_EQ(p.SequenceNumber, 0);
}

// Each row fills a record and says what it must hold afterwards. Ownership
// faults show up as leaks, double frees or frees of stack memory under ASan.
TEST(PacketRecord, FillingTable) {
  uint8_t borrowed[4] = {1, 2, 3, 4};
  uint8_t other[2] = {9, 8};
  struct Case {
    const char* name;
    std::function<void(TKelNetPacket&)> fill;
    bool owns;
    uint32_t length;
    std::vector<uint8_t> bytes;
    const uint8_t* expectPointer;  // nullptr: any private buffer
    int32_t sequence;
  };
  const Case cases[] = {
      {"copy gives a private buffer",
       [&](TKelNetPacket& p) { p.SetData(borrowed, 4, 7, true); },
       true,
       4,
       {1, 2, 3, 4},
       nullptr,
       7},
      {"borrow keeps the caller's pointer",
       [&](TKelNetPacket& p) { p.SetData(borrowed, 4, 3, false); },
       false,
       4,
       {1, 2, 3, 4},
       borrowed,
       3},
      {"refill releases the owned buffer first",
       [&](TKelNetPacket& p) {
         p.SetData(borrowed, 4, 1, true);
         p.SetData(other, 2, 2, true);
       },
       true,
       2,
       {9, 8},
       nullptr,
       2},
      {"owned then borrowed",
       [&](TKelNetPacket& p) {
         p.SetData(borrowed, 4, 1, true);
         p.SetData(other, 2, 5, false);
       },
       false,
       2,
       {9, 8},
       other,
       5},
      {"FreeData leaves a borrowed pointer and its length",
       [&](TKelNetPacket& p) {
         p.SetData(borrowed, 4, 1, false);
         p.FreeData();
       },
       false,
       4,
       {1, 2, 3, 4},
       borrowed,
       1},
      {"FreeData empties an owned record",
       [&](TKelNetPacket& p) {
         p.SetData(borrowed, 4, 1, true);
         p.FreeData();
       },
       false,
       0,
       {},
       nullptr,
       1},
      {"empty copy owns nothing",
       [&](TKelNetPacket& p) { p.SetData(borrowed, 0, 4, true); },
       false,
       0,
       {},
       nullptr,
       4},
      {"copy of a null pointer claims no bytes",
       [&](TKelNetPacket& p) { p.SetData(nullptr, 10, 4, true); },
       false,
       0,
       {},
       nullptr,
       4},
      {"an owned buffer is released even with Length zeroed by hand",
       [&](TKelNetPacket& p) {
         p.SetData(borrowed, 4, 1, true);
         p.Length = 0;
         p.FreeData();
       },
       false,
       0,
       {},
       nullptr,
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TKelNetPacket p;
    c.fill(p);
    EXPECT_EQ(p.OwnsData, c.owns);
    EXPECT_EQ(p.Length, c.length);
    EXPECT_EQ(p.SequenceNumber, c.sequence);
    if (c.bytes.empty()) {
      if (!c.owns && c.length == 0) {
        EXPECT_EQ(p.Data, nullptr);
      }
    } else {
      ASSERT_NE(p.Data, nullptr);
      EXPECT_EQ(std::vector<uint8_t>(p.Data, p.Data + p.Length), c.bytes);
    }
    if (c.expectPointer != nullptr) {
      EXPECT_EQ(p.Data, c.expectPointer);
    }
    if (c.owns) {
      EXPECT_NE(p.Data, borrowed);
      EXPECT_NE(p.Data, other);
    }
  }
  // The borrowed memory was never written through.
  EXPECT_EQ(borrowed[0], 1);
  EXPECT_EQ(other[1], 8);
}

TEST(PacketRecord, CopyIsIndependentOfTheSource) {
  auto bytes = Bytes({0xAA, 0xBB, 0xCC});
  TKelNetPacket source(bytes.data(), 3, 42, true);
  source.Timestamp = 12345.5;  // a fill time the copy must keep
  source.CaptureSeconds = 1700000000;
  source.CaptureMicroseconds = 999999;
  source.WireLength = 1514;
  TKelNetPacket marker;
  source.Next = &marker;

  TKelNetPacket copy;
  copy.CopyFrom(source, true);
  EXPECT_EQ(copy.Timestamp, 12345.5);
  EXPECT_EQ(copy.CaptureSeconds, 1700000000);
  EXPECT_EQ(copy.CaptureMicroseconds, 999999u);
  EXPECT_EQ(copy.WireLength, 1514u);
  EXPECT_EQ(copy.SequenceNumber, 42);
  EXPECT_EQ(copy.Next, nullptr);  // the FIFO link is not copied
  ASSERT_TRUE(copy.OwnsData);
  EXPECT_NE(copy.Data, source.Data);
  source.Data[0] = 0x11;
  EXPECT_EQ(copy.Data[0], 0xAA);

  TKelNetPacket view;
  view.CopyFrom(source, false);
  EXPECT_EQ(view.Data, source.Data);
  EXPECT_FALSE(view.OwnsData);
  EXPECT_EQ(view.Timestamp, 12345.5);
}

TEST(PacketRecord, CopyIntoItselfKeepsTheBytes) {
  auto bytes = Bytes({1, 2, 3});
  TKelNetPacket p(bytes.data(), 3, 1, true);
  p.CopyFrom(p, true);
  ASSERT_TRUE(p.OwnsData);
  EXPECT_EQ(std::vector<uint8_t>(p.Data, p.Data + 3), bytes);
}

TEST(PacketRecord, SetDataStampsNowAndLeavesNext) {
  TKelNetPacket marker;
  TKelNetPacket p;
  p.Next = &marker;
  p.Timestamp = 1.0;
  const double before = TKelNetPacket::NowTimestamp();
  uint8_t b = 7;
  p.SetData(&b, 1, 0, true);
  EXPECT_GE(p.Timestamp, before);
  EXPECT_LT(p.Timestamp - before, 1.0 / 86400.0 * 5);  // within seconds, not days
  EXPECT_EQ(p.Next, &marker);
  p.Next = nullptr;
}

// The day count agrees with an independent clock and calendar (Qt's), is
// local time rather than UTC, and has millisecond resolution.
TEST(PacketTimestamp, DaysSince1899LocalTime) {
  struct Zone {
    const char* tz;
    double hoursEastOfUtc;
  };
  const Zone zones[] = {{"UTC0", 0}, {"XXX-14", 14}, {"YYY+11", -11}, {"ZZZ-5:30", 5.5}};
  const char* saved = std::getenv("TZ");
  const std::string savedTz = saved ? saved : "";
  for (const Zone& z : zones) {
    SCOPED_TRACE(z.tz);
    setenv("TZ", z.tz, 1);
    tzset();
    const double stamp = TKelNetPacket::NowTimestamp();
    const QDateTime utc = QDateTime::currentDateTimeUtc();
    const double utcDays =
        QDate(1899, 12, 30).daysTo(utc.date()) + utc.time().msecsSinceStartOfDay() / 86400000.0;
    EXPECT_NEAR(stamp - utcDays, z.hoursEastOfUtc / 24.0, 2.0 / 86400.0);
    const double ms = stamp * 86400000.0;
    EXPECT_NEAR(ms, std::round(ms), 0.5);  // whole milliseconds (up to rounding of the double)
  }
  if (saved)
    setenv("TZ", savedTz.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

// --- FIFO through the component ---------------------------------------------------------

class Fifo : public ::testing::Test {
 protected:
  void SetUp() override {
    m.setOnStatusMessage([this](TKelNetMonitor*, const std::string& l) { lines.push_back(l); });
    m.setOnNewPacket([this](TKelNetMonitor*) { ++events; });
  }
  TKelNetPacket* Frame(int32_t seq, uint8_t fill = 0x42, uint32_t length = 3) {
    std::vector<uint8_t> b(length, fill);
    return new TKelNetPacket(b.data(), length, seq, true);
  }
  // Declared before the driver: its destruction still reports through them.
  std::vector<std::string> lines;
  int events = 0;
  FakeDriver m;
};

TEST_F(Fifo, TakesInArrivalOrderThenReportsEmpty) {
  for (int i = 0; i < 3; ++i) m.HandlePacket(Frame(i, static_cast<uint8_t>(0x10 + i)));
  EXPECT_EQ(m.get_packetcount(), 3);
  EXPECT_EQ(events, 3);
  TKelNetPacket r;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(m.GetNextPacket(&r));
    EXPECT_EQ(r.SequenceNumber, i);
    EXPECT_TRUE(r.OwnsData);
    EXPECT_EQ(r.Data[0], 0x10 + i);
    EXPECT_EQ(m.get_packetcount(), 2 - i);
  }
  // An empty take changes nothing in the caller's record.
  uint8_t* kept = r.Data;
  EXPECT_FALSE(m.GetNextPacket(&r));
  EXPECT_EQ(r.Data, kept);
  EXPECT_EQ(r.Data[0], 0x12);
  EXPECT_EQ(r.SequenceNumber, 2);
  // A new list starts without complaint.
  m.HandlePacket(Frame(3));
  EXPECT_TRUE(lines.empty());
}

TEST_F(Fifo, TakeIntoABorrowingRecordLeavesTheBorrowedBytes) {
  uint8_t mine[2] = {5, 6};
  TKelNetPacket r(mine, 2, 0, false);
  m.HandlePacket(Frame(9, 0x77, 4));
  ASSERT_TRUE(m.GetNextPacket(&r));
  EXPECT_TRUE(r.OwnsData);
  EXPECT_EQ(r.Length, 4u);
  EXPECT_EQ(r.Data[3], 0x77);
  EXPECT_EQ(mine[0], 5);
}

TEST_F(Fifo, QueuedBorrowingRecordIsCopiedOnTake) {
  std::vector<uint8_t> external = {1, 2, 3};
  m.HandlePacket(new TKelNetPacket(external.data(), 3, 0, false));
  TKelNetPacket r;
  ASSERT_TRUE(m.GetNextPacket(&r));
  EXPECT_TRUE(r.OwnsData);
  EXPECT_NE(r.Data, external.data());
  EXPECT_EQ(std::vector<uint8_t>(r.Data, r.Data + 3), external);
}

TEST_F(Fifo, LimitDropsSilentlyButCounts) {
  for (int i = 0; i < TKelNetMonitor::MaxFifoPackets; ++i) m.HandlePacket(Frame(i));
  ASSERT_EQ(m.get_packetcount(), TKelNetMonitor::MaxFifoPackets);
  ASSERT_EQ(events, TKelNetMonitor::MaxFifoPackets);
  m.HandlePacket(Frame(TKelNetMonitor::MaxFifoPackets));
  EXPECT_EQ(m.get_packetcount(), TKelNetMonitor::MaxFifoPackets);
  EXPECT_EQ(m.receivedCount(), TKelNetMonitor::MaxFifoPackets + 1);
  EXPECT_EQ(events, TKelNetMonitor::MaxFifoPackets);
  EXPECT_TRUE(lines.empty());
  // The oldest is still first; the dropped one was never linked.
  TKelNetPacket r;
  ASSERT_TRUE(m.GetNextPacket(&r));
  EXPECT_EQ(r.SequenceNumber, 0);
  m.HandlePacket(Frame(77));
  EXPECT_EQ(m.get_packetcount(), TKelNetMonitor::MaxFifoPackets);
}

TEST_F(Fifo, StaleLinkOfAReusedRecordIsNotFollowed) {
  TKelNetPacket stranger;
  TKelNetPacket* p = Frame(0);
  p->Next = &stranger;  // left over from the record's previous life
  m.HandlePacket(p);
  m.HandlePacket(Frame(1));
  TKelNetPacket r;
  ASSERT_TRUE(m.GetNextPacket(&r));
  ASSERT_TRUE(m.GetNextPacket(&r));
  EXPECT_EQ(r.SequenceNumber, 1);
  EXPECT_FALSE(m.GetNextPacket(&r));
}

TEST_F(Fifo, NullRecordIsIgnored) {
  m.HandlePacket(nullptr);
  EXPECT_EQ(m.receivedCount(), 0);
  EXPECT_EQ(events, 0);
  EXPECT_FALSE(m.GetNextPacket(nullptr));
}

TEST_F(Fifo, PauseKeepsAndStopDrains) {
  m.adapters = {{"fk0", "Fake 0"}};
  ASSERT_TRUE(m.Open());
  ASSERT_TRUE(m.SelectAdapter(0));
  ASSERT_TRUE(m.StartCapture());
  for (int i = 0; i < 5; ++i) m.HandlePacket(Frame(i));
  m.PauseCapture();
  EXPECT_EQ(m.get_packetcount(), 5);
  TKelNetPacket r;
  ASSERT_TRUE(m.GetNextPacket(&r));
  EXPECT_EQ(r.SequenceNumber, 0);
  m.StopCapture();  // nothing bound: still drains
  EXPECT_EQ(m.get_packetcount(), 0);
  EXPECT_FALSE(m.GetNextPacket(&r));
}

TEST_F(Fifo, DeInitializeTwiceFreesOnce) {
  for (int i = 0; i < 4; ++i) m.HandlePacket(Frame(i));
  m.DeInitialize();
  m.DeInitialize();
  EXPECT_EQ(m.get_packetcount(), 0);
}

// The packet-count line on the status bar, written on this (the UI) thread.
TEST_F(Fifo, PacketCountLine) {
  QStatusBar bar;
  m.setStatusBar(&bar);
  m.HandlePacket(Frame(0));
  EXPECT_EQ(bar.currentMessage(), "1 packets received (1 still buffered locally).");
  m.HandlePacket(Frame(1));
  EXPECT_EQ(bar.currentMessage(), "2 packets received (2 still buffered locally).");
  TKelNetPacket r;
  ASSERT_TRUE(m.GetNextPacket(&r));
  EXPECT_EQ(bar.currentMessage(), "2 packets received (1 still buffered locally).");
  ASSERT_TRUE(m.GetNextPacket(&r));
  EXPECT_EQ(bar.currentMessage(), "2 packets received (0 still buffered locally).");
  bar.showMessage("untouched");
  EXPECT_FALSE(m.GetNextPacket(&r));
  EXPECT_EQ(bar.currentMessage(), "untouched");
  // A frame dropped at the limit changes no text.
  for (int i = 0; i < TKelNetMonitor::MaxFifoPackets; ++i) m.HandlePacket(Frame(i));
  bar.showMessage("untouched");
  m.HandlePacket(Frame(0));
  EXPECT_EQ(bar.currentMessage(), "untouched");
  // Unassigned handlers: frames still queued, counted and shown.
  m.StopCapture();
  m.StopCallbackEvents();
  const int before = events;
  m.HandlePacket(Frame(5));
  EXPECT_EQ(events, before);
  EXPECT_EQ(m.get_packetcount(), 1);
  EXPECT_EQ(bar.currentMessage(),
            QString::number(m.receivedCount()) + " packets received (1 still buffered locally).");
}

}  // namespace
