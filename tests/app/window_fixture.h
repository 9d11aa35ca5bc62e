#pragma once
// A main window over the fake driver, and frames to feed it.

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QTableView>
#include <QThread>
#include <QToolButton>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>

#include "app/Form1.h"
#include "app/packet_list_model.h"
#include "pcapfile/frame_list.h"
#include "tests/app/fake_monitor.h"
#include "tests/support/frames.h"
#include "tests/support/pump.h"
#include "tests/views/message_box_answerer.h"

// Runs the event loop until `done` holds or `ms` have passed; returns `done()`.
inline bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
  return PumpUntil(done, std::chrono::milliseconds(ms));
}

using Mac = netvane::testing::Mac;
inline constexpr Mac kBroadcastMac = netvane::testing::kBroadcast;
inline constexpr Mac kHostA = netvane::testing::kHostA;
inline constexpr Mac kHostB{{0x02, 0x00, 0x00, 0x00, 0x00, 0x0B}};

// An Ethernet frame of `size` bytes with the given addresses and EtherType.
inline Bytes EtherFrame(const Mac& dst, const Mac& src, uint16_t type, size_t size = 60) {
  Bytes f = netvane::testing::Ethernet(dst, src, type);
  f.resize(size, 0);
  return f;
}

// IPv4 frame with protocol `proto` from a.b.c.d to e.f.g.h.
inline Bytes IpFrame(const Mac& dst, const Mac& src, uint8_t proto, std::array<uint8_t, 4> from,
                     std::array<uint8_t, 4> to) {
  Bytes f = EtherFrame(dst, src, 0x0800, 74);
  f[14] = 0x45;
  f[23] = proto;
  for (int i = 0; i < 4; ++i) {
    f[26 + i] = from[i];
    f[30 + i] = to[i];
  }
  return f;
}

// The Status texts of the capture states: idle and capturing, paused, stopped.
inline const QString kCapturingStatus = QStringLiteral("Captured packets : ");
inline const QString kPausedStatus = QStringLiteral("Paused ");
inline const QString kStoppedStatus = QStringLiteral("Stopped : ");

class WindowTest : public ::testing::Test {
 protected:
  // The capture state as the user sees it: the Status text, and the adapter
  // box, which can be used until the first Start only.
  bool Capturing() const { return form->Status->text() == kCapturingStatus && !form->CardBox->isEnabled(); }
  bool Stopped() const { return form->Status->text() == kStoppedStatus; }
  // Presses Start, and waits until the worker has done the start it was handed.
  void PressStart() {
    form->Start->click();
    fake->Settle();
  }

  void Make(std::vector<std::string> adapters = {"eth0", "eth1", "eth2"}) {
    form.reset();  // the old window refers to the old frame list
    frames = std::make_unique<netvane::FrameList>();
    form = std::make_unique<TForm1>(*frames, nullptr, [this, adapters](QObject* owner) {
      fake = new FakeMonitor(owner, adapters);
      return fake;
    });
  }
  void SetUp() override { Make(); }
  void TearDown() override {
    form.reset();
    frames.reset();
  }

  // Queues frames and waits until the worker has handed all of them over and
  // the window has listed what it kept.
  bool Feed(const std::vector<Bytes>& batch) {
    const int target = fake->Delivered() + static_cast<int>(batch.size());
    fake->Queue(batch);
    if (!WaitFor([&] { return fake->Delivered() >= target; })) return false;
    frames->Flush();  // the spool's last frames, which the next listings would write
    form->ListNewFrames();
    return true;
  }
  // A Start after Stop that lets the captured frames go unsaved, as a user
  // who answers Discard does.
  void StartDiscarding() {
    {
      viewtest::MessageBoxAnswerer discard({QMessageBox::Discard});
      form->Start->click();
    }
    fake->Settle();
  }
  // Text of grid row `row` (1-based, as the grid counts), column `col`.
  QString Cell(int row, int col) const {
    auto* m = form->packetModel();
    return m->data(m->index(row - 1, col)).toString();
  }
  int GridRows() const { return form->packetModel()->rowCount() + 1; }  // plus the header row

  std::unique_ptr<netvane::FrameList> frames;
  std::unique_ptr<TForm1> form;
  FakeMonitor* fake = nullptr;  // owned by the window
};
