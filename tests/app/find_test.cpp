// Find in the main window: where a search starts, which way it goes and
// when it wraps; and a search under way when the list is cleared.
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
    TPacketFinder* finder = form->finder();
    if (c.selected != 0) {
      ASSERT_TRUE(finder->GoToPacket(c.selected));
    }
    ASSERT_TRUE(finder->Find(Marker(), c.forward));
    ASSERT_TRUE(WaitFor([&] { return finder->job() == nullptr; }));
    const std::string what = "from " + std::to_string(c.selected) + (c.forward ? " forward" : " backward");
    EXPECT_EQ(finder->lastFound(), c.found) << what;
    EXPECT_EQ(finder->lastWrapped(), c.wrapped) << what;
    EXPECT_EQ(frames->Current(), c.found) << what;
  }
  // A match in the selected frame alone is found after a whole round.
  Make();
  List(5, {4});
  ASSERT_TRUE(form->finder()->GoToPacket(4));
  ASSERT_TRUE(form->finder()->Find(Marker(), true));
  ASSERT_TRUE(WaitFor([&] { return form->finder()->job() == nullptr; }));
  EXPECT_EQ(form->finder()->lastFound(), 4u);
  EXPECT_TRUE(form->finder()->lastWrapped());
}

// A Start after Stop clears the list while a search reads it, or before its
// end has reached the UI thread: the search is ended first, says nothing, and
// selects nothing.
TEST_F(FindTest, AClearEndsASearchUnderWay) {
  List(100000, {});
  viewtest::MessageBoxAnswerer answerer({});
  form->StartClick();
  form->StopClick();
  TPacketFinder* finder = form->finder();
  ASSERT_TRUE(finder->Find(Marker(), true));
  form->StartClick();
  EXPECT_EQ(finder->job(), nullptr);
  EXPECT_EQ(form->packetModel()->listed(), 0u);
  WaitFor([] { return false; }, 100);  // a finished() still queued would come now
  EXPECT_TRUE(answerer.Seen().empty()) << answerer.Seen().front().text.toStdString();
  EXPECT_EQ(frames->Current(), 0u);
}

}  // namespace
