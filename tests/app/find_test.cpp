// Find in the main window: where a search starts, which way it goes and
// when it wraps; and a search under way when the list is cleared.
#include <QToolTip>

#include "app/find_job.h"
#include "app/packet_finder.h"
#include "tests/app/window_fixture.h"
#include "tests/views/message_box_answerer.h"

namespace {

class FindTest : public WindowTest {
 protected:
  // Lists `count` frames; those numbered in `marked` hold the bytes EE EE.
  void List(uint32_t count, std::initializer_list<uint32_t> marked) {
    for (uint32_t n = 1; n <= count; ++n) {
      Bytes f = EtherFrame(kHostB, kHostA, 0x0800, 60);
      if (std::find(marked.begin(), marked.end(), n) != marked.end()) f[40] = f[41] = 0xEE;
      frames->Append(f.data(), uint32_t(f.size()));
    }
    form->ListNewFrames();
  }
  // Go to and find, as the window's actions reach it.
  TPacketFinder* Finder() const { return form->findChild<TPacketFinder*>(); }
  // Searches and waits until the search is over; the number of the row then
  // selected (0: none), and whether the note that it wrapped round shows.
  std::pair<uint32_t, bool> Search(bool forward) {
    QToolTip::hideText();
    WaitFor([] { return !QToolTip::isVisible(); }, 2000);
    if (!Finder()->Find(Marker(), forward)) return {0, false};
    WaitFor([&] { return Finder()->job() == nullptr; });
    const QModelIndex at = form->Packets->currentIndex();
    return {at.isValid() ? uint32_t(at.row()) + 1 : 0u,
            QToolTip::isVisible() && QToolTip::text().startsWith("Passed")};
  }
  netvane::FrameMatcher Marker() {
    std::string why;
    return *netvane::FrameMatcher::Make(netvane::FindKind::HexBytes, "EE EE", false, why);
  }
};

TEST_F(FindTest, StartsAfterTheSelectedRowAndWrapsAtTheEnd) {
  const struct {
    uint32_t selected;  // 0: no row
    bool forward;
    uint32_t found;
    bool wrapped;
  } cases[] = {
      {0, true, 3, false},  {3, true, 7, false},  {7, true, 3, true},  {9, true, 3, true},
      {0, false, 7, false}, {7, false, 3, false}, {3, false, 7, true}, {1, false, 7, true},
  };
  for (const auto& c : cases) {
    Make();
    List(9, {3, 7});
    if (c.selected != 0) {
      ASSERT_TRUE(Finder()->GoToPacket(c.selected));
    }
    const std::string what = "from " + std::to_string(c.selected) + (c.forward ? " forward" : " backward");
    EXPECT_EQ(Search(c.forward), std::make_pair(c.found, c.wrapped)) << what;
    EXPECT_EQ(frames->Current(), c.found) << what;
  }
  // A match in the selected frame alone is found after a whole round.
  Make();
  List(5, {4});
  ASSERT_TRUE(Finder()->GoToPacket(4));
  EXPECT_EQ(Search(true), std::make_pair(4u, true));
}

// A Start after Stop clears the list while a search reads it, or before its
// end has reached the UI thread: the search is ended first, says nothing, and
// selects nothing.
TEST_F(FindTest, AClearEndsASearchUnderWay) {
  List(100000, {});
  viewtest::MessageBoxAnswerer answerer({});
  form->StartClick();
  form->StopClick();
  TPacketFinder* finder = Finder();
  ASSERT_TRUE(finder->Find(Marker(), true));
  form->StartClick();
  EXPECT_EQ(finder->job(), nullptr);
  EXPECT_EQ(form->packetModel()->listed(), 0u);
  WaitFor([] { return false; }, 100);  // a finished() still queued would come now
  EXPECT_TRUE(answerer.Seen().empty()) << answerer.Seen().front().text.toStdString();
  EXPECT_EQ(frames->Current(), 0u);
}

}  // namespace
