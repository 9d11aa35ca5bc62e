// Closing the main window: the worker thread ends before anything is destroyed
// and no frame arrives afterwards.
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QSignalSpy>

#include <algorithm>

#include "tests/app/window_fixture.h"

namespace {

class CloseTest : public WindowTest {
 protected:
  // Capturing, with frames arriving on every turn of the worker.
  void Streaming() {
    form->Start->click();
    fake->SetStream(25);
    ASSERT_TRUE(WaitFor([&] { return form->packetModel()->listed() >= 50; }));
  }
};

TEST_F(CloseTest, ClosingWithoutACaptureClosesTheComponent) {
  QSignalSpy closed(form.get(), &TForm1::closed);
  EXPECT_TRUE(form->close());
  EXPECT_EQ(closed.count(), 1);
  EXPECT_FALSE(fake->isOpened());
  EXPECT_FALSE(fake->threadRunning());
  const auto calls = fake->Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "Driver_Close"), calls.end());
}

TEST_F(CloseTest, ClosingWhileCapturingEndsTheWorkerFirst) {
  Streaming();
  viewtest::MessageBoxAnswerer discard({QMessageBox::Discard});
  QSignalSpy closed(form.get(), &TForm1::closed);
  QElapsedTimer t;
  t.start();
  EXPECT_TRUE(form->close());
  EXPECT_LT(t.elapsed(), 3000) << "close must not hang";
  EXPECT_EQ(closed.count(), 1);
  EXPECT_FALSE(fake->threadRunning());
  EXPECT_FALSE(fake->isBound());
  const int delivered = fake->Delivered();
  const uint32_t stored = frames->Count();
  fake->Queue({EtherFrame(kHostB, kHostA, 0x0800)});
  QThread::msleep(300);
  QCoreApplication::processEvents();
  EXPECT_EQ(fake->Delivered(), delivered);
  EXPECT_EQ(frames->Count(), stored);
  // Whatever was stored before the close is still listed; the window stays usable.
  EXPECT_TRUE(WaitFor([&] { return form->packetModel()->listed() == stored; }));
}

TEST_F(CloseTest, DestroyingACapturingWindowStopsDeliveryBeforeItsMembersGo) {
  Streaming();
  form.reset();  // no close first: the destructor must end the worker itself
  const uint32_t stored = frames->Count();
  QThread::msleep(300);
  QCoreApplication::processEvents();
  EXPECT_EQ(frames->Count(), stored);
  EXPECT_GT(stored, 0u);
}

}  // namespace
