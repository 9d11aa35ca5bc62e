// The Conversations window over a live capture: rows counted from what was
// sent, followed as frames come, sorted on numbers as numbers, and limited to
// the display filter. Follow TCP stream from a frame: the stream's number
// among all frames, overlapping bytes once, a side saved.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>

#include "app/conversations_window.h"
#include "app/display_filter.h"
#include "app/follow_window.h"
#include "app/stream_tools.h"
#include "tests/app/window_fixture.h"

namespace {

using netvane::ConversationKind;
using netvane::testing::Ip4Header;
using netvane::testing::TcpHeader;

struct Sent {
  Ip4Header ip;
  TcpHeader tcp;
  std::size_t payload;
};

Sent Segment(uint8_t fromHost, uint16_t fromPort, uint8_t toHost, uint16_t toPort, std::size_t payload) {
  Sent s;
  s.ip.source = {{10, 0, 0, fromHost}};
  s.ip.destination = {{10, 0, 0, toHost}};
  s.tcp.sourcePort = fromPort;
  s.tcp.destinationPort = toPort;
  s.payload = payload;
  return s;
}

class ConversationsTest : public WindowTest {
 protected:
  TConversationsWindow* Open() {
    form->streamTools()->ConversationsClick();
    return form->streamTools()->conversations();
  }
  bool CaughtUp(TConversationsWindow* w, int ms = 5000) {
    return WaitFor([&] { return w->caughtUp(); }, ms);
  }
  // Sends the segments and adds what each conversation (by its first
  // segment's hosts and ports) should count: frames and bytes each way.
  bool Send(const std::vector<Sent>& segments) {
    std::vector<Bytes> batch;
    for (const Sent& s : segments) batch.push_back(netvane::testing::TcpFrame(s.ip, s.tcp, s.payload));
    return Feed(batch);
  }
};

TEST_F(ConversationsTest, CountsWhatWasSentFollowsTheCaptureSortsAndLimits) {
  ASSERT_TRUE(form->Start != nullptr);
  form->StartClick();
  // Host 1 talks to host 2 on port 80 (three segments out, two back, of
  // sizes whose decimal order is not their numeric order); host 3 to port 22.
  const std::vector<Sent> first = {Segment(1, 40000, 2, 80, 900),  Segment(2, 80, 1, 40000, 40),
                                   Segment(1, 40000, 2, 80, 60),   Segment(3, 5000, 2, 22, 0),
                                   Segment(2, 80, 1, 40000, 1200), Segment(1, 40000, 2, 80, 0)};
  ASSERT_TRUE(Send(first));
  TConversationsWindow* w = Open();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(CaughtUp(w));
  ASSERT_EQ(w->RowCount(ConversationKind::Tcp), 2);

  // What each direction of the first conversation should count, from the frames sent.
  const auto expect = [&](const std::vector<Sent>& sent, const netvane::Conversation& c) {
    uint64_t count[2] = {}, size[2] = {};
    for (const Sent& s : sent) {
      if (s.tcp.destinationPort != 80 && s.tcp.sourcePort != 80) continue;
      const int d = s.tcp.sourcePort == 40000 ? 0 : 1;
      count[d] += 1;
      size[d] += netvane::testing::TcpFrame(s.ip, s.tcp, s.payload).size();
    }
    EXPECT_EQ(c.a.port, 40000);
    EXPECT_EQ(c.b.port, 80);
    EXPECT_EQ(c.framesAToB, count[0]);
    EXPECT_EQ(c.bytesAToB, size[0]);
    EXPECT_EQ(c.framesBToA, count[1]);
    EXPECT_EQ(c.bytesBToA, size[1]);
  };
  const netvane::Conversation* row = w->RowAt(ConversationKind::Tcp, 0);
  ASSERT_NE(row, nullptr);
  expect(first, *row);

  // While capturing, new frames reach the table within about a second: one
  // more segment of the first conversation and a new conversation.
  std::vector<Sent> more = {Segment(2, 80, 1, 40000, 300), Segment(4, 6000, 2, 443, 10)};
  ASSERT_TRUE(Send(more));
  ASSERT_TRUE(WaitFor([&] { return w->RowCount(ConversationKind::Tcp) == 3; }, 1500))
      << "the table did not follow the capture";
  std::vector<Sent> all = first;
  all.insert(all.end(), more.begin(), more.end());
  expect(all, *w->RowAt(ConversationKind::Tcp, 0));

  // Sorted by Bytes, largest first: numbers as numbers.
  QTableView* view = w->view(ConversationKind::Tcp);
  view->sortByColumn(5, Qt::DescendingOrder);
  std::vector<uint64_t> bytes;
  for (int r = 0; r < 3; ++r) bytes.push_back(w->RowAt(ConversationKind::Tcp, r)->bytes());
  EXPECT_TRUE(std::is_sorted(bytes.rbegin(), bytes.rend())) << bytes[0] << " " << bytes[1] << " " << bytes[2];

  // "Filter on this conversation" shows exactly the row's frames, at each layer.
  for (const ConversationKind kind :
       {ConversationKind::Ethernet, ConversationKind::Ipv4, ConversationKind::Tcp}) {
    SCOPED_TRACE(static_cast<int>(kind));
    w->Tabs->setCurrentIndex(static_cast<int>(kind));
    w->view(kind)->selectRow(0);
    const uint64_t want = w->RowAt(kind, 0)->frames();
    w->FilterOnConversation();
    ASSERT_TRUE(WaitFor([&] { return form->displayFilter()->caughtUp(); }));
    EXPECT_EQ(form->displayFilter()->shown().size(), want)
        << form->displayFilter()->expression().toStdString();
  }

  // Limited to a display filter that shows the port-22 and port-443 frames only.
  QString error;
  ASSERT_TRUE(form->displayFilter()->Apply(QStringLiteral("port 22 or port 443"), error))
      << error.toStdString();
  w->LimitToFilter->setChecked(true);
  ASSERT_TRUE(CaughtUp(w));
  EXPECT_EQ(w->RowCount(ConversationKind::Tcp), 2);
  EXPECT_TRUE(w->windowTitle().startsWith(QStringLiteral("Conversations")));

  // Following a frame's stream numbers it among all frames, whatever the
  // display filter shows: frame 4 opened the second connection.
  TFollowWindow* follow = form->streamTools()->FollowFrame(4);
  ASSERT_NE(follow, nullptr);
  ASSERT_TRUE(WaitFor([&] { return follow->done(); }));
  EXPECT_EQ(follow->state().stream, 1u);
  EXPECT_EQ(follow->state().client.port, 5000);
  // The first connection's segments all start at one sequence number: each
  // side is its longest segment, once; the server's saved bytes are that
  // segment's payload.
  follow = form->streamTools()->FollowFrame(1);
  ASSERT_TRUE(WaitFor([&] { return follow->done(); }));
  EXPECT_EQ(follow->state().bytes[0], 900u);
  EXPECT_EQ(follow->state().bytes[1], 1200u);
  EXPECT_EQ(follow->state().missing[0] + follow->state().missing[1], 0u);
  EXPECT_TRUE(follow->windowTitle().startsWith(QStringLiteral("Follow TCP stream")));
  follow->Sides->setCurrentIndex(2);
  QTemporaryDir dir;
  QString why;
  ASSERT_TRUE(follow->SaveTo(dir.filePath(QStringLiteral("server.bin")), why)) << why.toStdString();
  QFile saved(dir.filePath(QStringLiteral("server.bin")));
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QByteArray got = saved.readAll();
  const Bytes frame = netvane::testing::TcpFrame(first[4].ip, first[4].tcp, first[4].payload);
  EXPECT_EQ(got, QByteArray(reinterpret_cast<const char*>(frame.data()) + frame.size() - 1200, 1200));
  form->StopClick();
}

}  // namespace
