// The real main window with the libpcap driver on one end of a veth pair whose
// other end sits in a network namespace made by the test. Real frames (ping)
// sent from the namespace appear as rows; Pause, Stop and Start behave as the
// capture controls say; a capture filter keeps only the frames it takes;
// closing returns promptly. A Start on another host's adapter that cannot be
// reached leaves the window usable. Needs root; skips otherwise.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "app/capture_filter.h"
#include "app/packet_finder.h"
#include "capture/KelWinPcapNetMonitor.h"
#include "decode/frame_match.h"
#include "tests/app/window_fixture.h"
#include "tests/support/shell.h"
#include "tests/views/message_box_answerer.h"

namespace {

using netvane::testing::Sh;
using netvane::testing::ShLine;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// A namespace "nvw<pid>" holding veth end "nvwp<pid>" (10.213.7.2/24) whose
// peer "nvwh<pid>" stays here, up and without an address. The far end knows a
// made-up neighbour 10.213.7.1, so pings leave as plain IPv4 frames.
class Veth {
 public:
  Veth() {
    const std::string id = std::to_string(getpid() % 1000000);
    ns = "nvw" + id;
    host = "nvwh" + id;
    peer = "nvwp" + id;
  }
  bool Create(std::string& why) {
    if (geteuid() != 0) return why = "needs root to create a network namespace", false;
    if (Sh("command -v ip") != 0) return why = "the ip tool is not installed", false;
    if (Sh("command -v ping") != 0) return why = "ping is not installed", false;
    created = true;
    const std::string in = "ip netns exec " + ns + " ";
    const std::string steps[] = {
        "ip netns add " + ns,
        "ip link add " + host + " type veth peer name " + peer,
        "ip link set " + peer + " netns " + ns,
        "sysctl -w net.ipv6.conf." + host + ".disable_ipv6=1",
        "ip link set " + host + " up",
        in + "sysctl -w net.ipv6.conf." + peer + ".disable_ipv6=1",
        in + "ip addr add 10.213.7.2/24 broadcast 10.213.7.255 dev " + peer,
        in + "ip link set " + peer + " up",
        in + "ip neigh replace 10.213.7.1 lladdr 02:00:00:00:07:01 dev " + peer + " nud permanent",
        in + "sysctl -w net.ipv4.icmp_echo_ignore_broadcasts=0",
    };
    for (const std::string& s : steps)
      if (Sh(s) != 0) return why = "cannot set up the test namespace (" + s + ")", false;
    peerMac = Upper(ShLine(in + "cat /sys/class/net/" + peer + "/address"));
    return peerMac.size() == 17 || (why = "no address for " + peer, false);
  }
  ~Veth() {
    if (!created) return;
    Sh("ip link del " + host);
    Sh("ip netns del " + ns);
  }
  // Sends `count` echo requests from the namespace; no reply comes back.
  void Ping(int count, const char* to = "10.213.7.1", bool broadcast = false) const {
    Sh("ip netns exec " + ns + " ping -n -q " + (broadcast ? "-b " : "") + "-c " + std::to_string(count) +
       " -i 0.05 -W 1 " + to);
  }

  std::string ns, host, peer, peerMac;

 private:
  bool created = false;
};

class LiveWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!veth.Create(why)) GTEST_SKIP() << why;
    frames = std::make_unique<netvane::FrameList>();
    form = std::make_unique<TForm1>(*frames, nullptr, [this](QObject* owner) {
      monitor = new TKelWinPcapNetMonitor(owner);
      monitor->setShowErrMsgBox(false);  // errors are checked, not shown in a box
      return monitor;
    });
    const int position = form->CardBox->findText(QString::fromStdString(veth.host));
    if (position < 0) GTEST_SKIP() << "the driver does not list " << veth.host;
    form->CardBox->setCurrentIndex(position);
  }
  void TearDown() override {
    form.reset();
    frames.reset();
  }

  // Grid rows (1-based) whose protocol cell is `protocol`.
  std::vector<int> RowsOf(const QString& protocol) const {
    std::vector<int> rows;
    auto* m = form->packetModel();
    for (int r = 0; r < int(m->listed()); ++r)
      if (m->data(m->index(r, 5)).toString() == protocol) rows.push_back(r + 1);
    return rows;
  }
  QString Cell(int row, int col) const {
    auto* m = form->packetModel();
    return m->data(m->index(row - 1, col)).toString();
  }
  bool WaitRows(const QString& protocol, size_t n) {
    return WaitFor([&] { return RowsOf(protocol).size() >= n; }, 8000);
  }
  // Lets frames in flight settle and be listed.
  void Settle() {
    WaitFor([] { return false; }, 400);
    form->ListNewFrames();
  }

  Veth veth;
  std::unique_ptr<netvane::FrameList> frames;
  std::unique_ptr<TForm1> form;
  TKelWinPcapNetMonitor* monitor = nullptr;
};

TEST_F(LiveWindowTest, RealFramesBecomeRowsAndTheControlsBehave) {
  // The window's stored settings reach the driver.
  EXPECT_EQ(monitor->MaxPacketsPerCall, 50);
  EXPECT_EQ(monitor->TimeOut, 50);
  EXPECT_EQ(monitor->MaxPacketSize, 20000);
  const int64_t started = netvane::StampOfNow().seconds;
  form->Start->click();
  // The bind runs on the worker; the button does not wait for it.
  ASSERT_TRUE(WaitFor([&] { return monitor->isBound(); })) << monitor->errorText();
  EXPECT_EQ(form->CardBox->currentText().toStdString(), veth.host);
  EXPECT_FALSE(form->CardBox->isEnabled());

  veth.Ping(3);
  ASSERT_TRUE(WaitRows("IP/ICMP", 3));
  for (int row : RowsOf("IP/ICMP")) {
    SCOPED_TRACE(row);
    EXPECT_EQ(Cell(row, 0), QString::number(row));
    EXPECT_EQ(Cell(row, 1).toStdString(), veth.peerMac);
    EXPECT_EQ(Cell(row, 2), "02:00:00:00:07:01");
    EXPECT_EQ(Cell(row, 3), "10.213.7.2");
    EXPECT_EQ(Cell(row, 4), "10.213.7.1");
    // Kept for a saved capture: the capture's time stamp and the length on the wire.
    const netvane::CaptureStamp stamp = frames->Stamp(uint32_t(row));
    EXPECT_GE(stamp.seconds, started);
    EXPECT_LE(stamp.seconds, netvane::StampOfNow().seconds);
    EXPECT_LT(stamp.microseconds, 1000000u);
    EXPECT_GE(stamp.wireLength, frames->Frame(uint32_t(row)).size());
  }
  Settle();
  const uint32_t beforePause = form->packetModel()->listed();
  EXPECT_EQ(form->Captured->text(), QString::number(beforePause));

  // Paused: the adapter is unbound and nothing is taken.
  form->Pause->click();
  EXPECT_FALSE(monitor->isBound());
  veth.Ping(2);
  Settle();
  EXPECT_EQ(form->packetModel()->listed(), beforePause);

  // Start after Pause keeps the list and goes on numbering.
  form->Start->click();
  ASSERT_TRUE(WaitFor([&] { return monitor->isBound(); }));
  const size_t pingsBefore = RowsOf("IP/ICMP").size();
  veth.Ping(2);
  ASSERT_TRUE(WaitRows("IP/ICMP", pingsBefore + 2));
  EXPECT_GT(RowsOf("IP/ICMP").back(), int(beforePause));
  EXPECT_EQ(Cell(int(beforePause) + 1, 0), QString::number(beforePause + 1));

  // Find while frames come: each search thread reads the spool that the worker
  // writes meanwhile, and finds an echo's payload (bytes 0x10, 0x11, ...) in an
  // echo's row.
  const size_t echoes = RowsOf("IP/ICMP").size();
  Sh("(ip netns exec " + veth.ns + " ping -n -q -c 40 -i 0.02 -W 1 10.213.7.1 >/dev/null 2>&1 &)");
  {
    viewtest::MessageBoxAnswerer noBox({});
    std::string why;
    const auto echo = netvane::FrameMatcher::Make(netvane::FindKind::HexBytes, "20 21 22 23", false, why);
    for (int k = 0; k < 8; ++k) {
      auto* finder = form->findChild<TPacketFinder*>();
      ASSERT_TRUE(finder->Find(*echo, true));
      ASSERT_TRUE(WaitFor([&] { return finder->job() == nullptr; }, 8000));
      const int selected = form->Packets->currentIndex().row() + 1;
      EXPECT_EQ(Cell(selected, 5), "IP/ICMP") << selected;
      WaitFor([] { return false; }, 50);
    }
    EXPECT_TRUE(noBox.Seen().empty()) << noBox.Seen().front().text.toStdString();
  }
  ASSERT_TRUE(WaitRows("IP/ICMP", echoes + 40));  // the pings are over

  // Broadcasts are kept unless the box says otherwise.
  veth.Ping(2, "10.213.7.255", true);
  ASSERT_TRUE(WaitFor(
      [&] {
        auto* m = form->packetModel();
        for (int r = 0; r < int(m->listed()); ++r)
          if (m->data(m->index(r, 2)).toString() == "FF:FF:FF:FF:FF:FF") return true;
        return false;
      },
      8000));
  form->Broadcast->setChecked(true);
  Settle();
  const uint32_t beforeBroadcast = form->packetModel()->listed();
  veth.Ping(3, "10.213.7.255", true);
  Settle();
  EXPECT_EQ(form->packetModel()->listed(), beforeBroadcast);
  form->Broadcast->setChecked(false);

  // Stop, then Start: the list starts again at 1.
  form->Stop->click();
  EXPECT_EQ(form->Status->text(), "Stopped : ");
  {
    viewtest::MessageBoxAnswerer discard({QMessageBox::Discard});
    form->Start->click();
    ASSERT_EQ(discard.Seen().size(), 1u) << "the captured frames were never saved";
  }
  EXPECT_EQ(form->packetModel()->listed(), 0u);
  ASSERT_TRUE(WaitFor([&] { return monitor->isBound(); }));
  veth.Ping(1);
  ASSERT_TRUE(WaitRows("IP/ICMP", 1));
  EXPECT_EQ(Cell(RowsOf("IP/ICMP").front(), 0), QString::number(RowsOf("IP/ICMP").front()));
  EXPECT_EQ(Cell(1, 0), "1");

  // A capture filter applies from the next Start: the kernel keeps only the
  // unicast echoes, in every row.
  QString error;
  ASSERT_TRUE(form->captureFilter()->Set(QStringLiteral("dst host 10.213.7.1"), error))
      << error.toStdString();
  form->Stop->click();
  {
    viewtest::MessageBoxAnswerer discard({QMessageBox::Discard});
    form->Start->click();
  }
  ASSERT_TRUE(WaitFor([&] { return monitor->isBound(); })) << monitor->errorText();
  veth.Ping(3, "10.213.7.255", true);
  veth.Ping(2);
  ASSERT_TRUE(WaitRows("IP/ICMP", 2));
  Settle();
  EXPECT_EQ(form->packetModel()->listed(), 2u);
  for (int row = 1; row <= int(form->packetModel()->listed()); ++row) EXPECT_EQ(Cell(row, 4), "10.213.7.1");
  ASSERT_TRUE(form->captureFilter()->Set(QString(), error));

  // Closing while capturing ends the worker at once.
  viewtest::MessageBoxAnswerer discard({QMessageBox::Discard});
  QElapsedTimer t;
  t.start();
  EXPECT_TRUE(form->close());
  EXPECT_LT(t.elapsed(), 2000);
  EXPECT_FALSE(monitor->threadRunning());
  EXPECT_FALSE(monitor->isOpened());
}

// A Start on an adapter of a host that never answers (its SSH port drops
// every packet): the window stays usable while ssh connects and its title
// says to whom, Stop gives the connect up at once and quietly, and a Start
// left to run reports today's failure within the connect timeout and a second.
TEST_F(LiveWindowTest, RemoteStartThatConnectsLeavesTheWindowUsable) {
  if (Sh("command -v ssh") != 0) GTEST_SKIP() << "no ssh client (openssh-client is not installed)";
  // Frames to 10.213.8.9 leave on the veth pair, and nothing there answers.
  const std::string host = veth.host;
  ASSERT_EQ(Sh("ip addr add 10.213.8.1/24 dev " + host), 0);
  ASSERT_EQ(Sh("ip neigh replace 10.213.8.9 lladdr 02:00:00:00:08:09 dev " + host + " nud permanent"), 0);
  constexpr int kConnectTimeoutS = 2;
  setenv("NETVANE_SSH", ("ssh -F /dev/null -o ConnectTimeout=" + std::to_string(kConnectTimeoutS)).c_str(),
         1);
  std::vector<std::string> lines;
  monitor->setOnStatusMessage([&](TKelNetMonitor*, const std::string& l) { lines.push_back(l); });
  struct Restore {
    TKelNetMonitor* m;
    ~Restore() {
      unsetenv("NETVANE_SSH");
      m->setOnStatusMessage(nullptr);  // `lines` goes before the window
    }
  } restore{monitor};
  auto said = [&](const std::string& part) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(part) != l.npos; });
  };
  monitor->SetRemoteAdapters({"ssh://root@10.213.8.9/eth0"});
  ASSERT_TRUE(monitor->Open());
  monitor->FillAdapterComboBox(form->CardBox, false);
  const int position = form->CardBox->findText("eth0 on root@10.213.8.9");
  ASSERT_GE(position, 0);
  form->CardBox->setCurrentIndex(position);
  const QString title = form->windowTitle();
  auto sshChildren = [] { return Sh("pgrep -P " + std::to_string(getpid()) + " -x ssh >/dev/null") == 0; };

  QElapsedTimer took;
  took.start();
  form->Start->click();
  EXPECT_LT(took.elapsed(), 500);
  EXPECT_EQ(form->Status->text(), "Captured packets : ");
  EXPECT_EQ(form->windowTitle(), title + " - connecting to root@10.213.8.9");
  ASSERT_TRUE(WaitFor([&] { return said("Connecting to root@10.213.8.9."); }, 1000));
  {
    // A dialog of the window opens and is answered while ssh connects.
    viewtest::MessageBoxAnswerer answers({QMessageBox::Ok});
    form->OpenCaptureAction->trigger();
    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(answers.Seen()[0].text, "Pause or stop the capture before opening a capture file.");
  }
  EXPECT_TRUE(monitor->isStarting());
  EXPECT_TRUE(sshChildren());

  took.restart();
  form->Stop->click();
  EXPECT_LT(took.elapsed(), 1000);
  EXPECT_EQ(form->Status->text(), "Stopped : ");
  EXPECT_FALSE(monitor->isStarting());
  EXPECT_FALSE(sshChildren());  // the connect is over: nothing can fail later
  ASSERT_TRUE(WaitFor([&] { return form->windowTitle() == title; }, 1000));
  EXPECT_FALSE(said("TKelNetMonitor Error"));
  EXPECT_TRUE(said("Monitoring of adapter has been paused."));

  // Start again, and let it run: the failure, in time, and the window usable meanwhile.
  took.restart();
  form->Start->click();
  EXPECT_LT(took.elapsed(), 500);
  ASSERT_TRUE(WaitFor([&] { return said("TKelNetMonitor Error"); }, (kConnectTimeoutS + 2) * 1000));
  EXPECT_LT(took.elapsed(), (kConnectTimeoutS + 1) * 1000 + 500);
  EXPECT_TRUE(
      said("TKelNetMonitor Error: WinPcap driver failed to open adapter ssh://root@10.213.8.9/eth0: "
           "cannot reach root@10.213.8.9"))
      << lines.back();
  EXPECT_FALSE(monitor->isBound());
  ASSERT_TRUE(WaitFor([&] { return form->windowTitle() == title; }, 1000));
}

}  // namespace
