// The libpcap driver on a real veth pair: what arrives, in which order, what a
// filter keeps out, and that no operation waits on an idle or vanished adapter.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "tests/live/live_capture.h"

using namespace std::chrono_literals;
using netvane::lab::Bytes;
using netvane::lab::LiveCapture;
using netvane::lab::VethLab;

namespace {

constexpr auto kArrival = 3000ms;
const std::string kComplained = "TKelNetMonitor Error: WinPcap driver complained: ";

#define REQUIRE_LAB(lab)                                                               \
  if (!netvane::lab::SkipReason().empty()) GTEST_SKIP() << netvane::lab::SkipReason(); \
  VethLab lab;                                                                         \
  if (!lab.ok()) GTEST_SKIP() << "could not create a veth pair in a namespace";

std::vector<Bytes> Markers(uint32_t first, uint32_t count) {
  std::vector<Bytes> frames;
  for (uint32_t i = first; i < first + count; ++i) frames.push_back(netvane::lab::MarkerFrame(i));
  return frames;
}

std::vector<uint32_t> Range(uint32_t first, uint32_t count) {
  std::vector<uint32_t> v(count);
  std::iota(v.begin(), v.end(), first);
  return v;
}

void ExpectConsecutiveSequence(const std::vector<netvane::lab::Delivered>& frames) {
  for (size_t i = 0; i < frames.size(); ++i)
    ASSERT_EQ(frames[i].sequence, static_cast<int32_t>(i)) << "frame " << i;
}

TEST(LiveCapture, FramesArriveInOrderNumberedFromZero) {
  REQUIRE_LAB(lab);
  LiveCapture cap;
  ASSERT_TRUE(cap.Start(lab.localIf()));
  ASSERT_TRUE(lab.InjectFromPeer(Markers(0, 40)));
  ASSERT_TRUE(LiveCapture::WaitUntil([&] { return cap.Markers().size() >= 40; }, kArrival));
  EXPECT_EQ(cap.Markers(), Range(0, 40));
  ExpectConsecutiveSequence(cap.frames());
}

// Traffic made by the kernel of the peer namespace, and what of it must show up.
struct KernelTraffic {
  const char* name;
  std::string command;  // run in the peer namespace; %L is the local address
  std::function<bool(const Bytes&)> expected;
  int needed;
};

TEST(LiveCapture, KernelTrafficIsCaptured) {
  REQUIRE_LAB(lab);
  const std::string local = lab.localIp();
  const std::vector<KernelTraffic> cases = {
      {"ping: ARP", "ping -c 2 -i 0.2 -W 1 " + local,
       [](const Bytes& f) { return netvane::lab::EtherType(f) == 0x0806; }, 1},
      {"ping: ICMP echo and reply", "ping -c 2 -i 0.2 -W 1 " + local,
       [](const Bytes& f) { return netvane::lab::IpProtocol(f) == 1; }, 4},
      {"UDP datagram", "echo hello > /dev/udp/" + local + "/9999",
       [](const Bytes& f) {
         return netvane::lab::IpProtocol(f) == 17 && netvane::lab::TransportDestinationPort(f) == 9999;
       },
       1},
      {"TCP connect", "exec 3<>/dev/tcp/" + local + "/9",
       [](const Bytes& f) {
         return netvane::lab::TransportDestinationPort(f) == 9 && (netvane::lab::TcpFlags(f) & 0x02);
       },
       1},
  };
  LiveCapture cap;
  ASSERT_TRUE(cap.Start(lab.localIf()));
  for (const KernelTraffic& t : cases) {
    SCOPED_TRACE(t.name);
    lab.InPeer("bash -c '" + t.command + "'");
    auto count = [&] {
      const auto frames = cap.frames();
      return std::count_if(frames.begin(), frames.end(), [&](const auto& d) { return t.expected(d.bytes); });
    };
    EXPECT_TRUE(LiveCapture::WaitUntil([&] { return count() >= t.needed; }, kArrival)) << "seen " << count();
  }
  ExpectConsecutiveSequence(cap.frames());
}

TEST(LiveCapture, HostFilterKeepsOtherHostsOut) {
  REQUIRE_LAB(lab);
  LiveCapture cap;
  // veth ends have no IPv4 network until addressed; the filter must not need one.
  ASSERT_TRUE(cap.monitor.set_FilterIP(lab.peerIp() + ",192.0.2.77"));
  ASSERT_TRUE(cap.Start(lab.localIf()));
  std::vector<Bytes> frames;
  for (int i = 0; i < 5; ++i) {
    frames.push_back(netvane::lab::Ipv4UdpFrame("192.0.2.1", "192.0.2.2", 1000 + i));   // other hosts
    frames.push_back(netvane::lab::MarkerFrame(i));                                     // not IP at all
    frames.push_back(netvane::lab::Ipv4UdpFrame(lab.peerIp(), "192.0.2.9", 2000 + i));  // host a
    frames.push_back(netvane::lab::Ipv4UdpFrame("192.0.2.3", "192.0.2.77", 3000 + i));  // host b
  }
  ASSERT_TRUE(lab.InjectFromPeer(frames));
  auto portsSeen = [&] {
    std::vector<int> ports;
    for (const auto& d : cap.frames()) ports.push_back(netvane::lab::TransportDestinationPort(d.bytes));
    return ports;
  };
  ASSERT_TRUE(LiveCapture::WaitUntil([&] { return portsSeen().size() >= 10; }, kArrival));
  LiveCapture::Settle(300ms);  // give stragglers from other hosts a chance to show
  EXPECT_EQ(portsSeen(), (std::vector<int>{2000, 3000, 2001, 3001, 2002, 3002, 2003, 3003, 2004, 3004}));
  EXPECT_TRUE(cap.LinesStartingWith("TKelNetMonitor Error").empty());
}

TEST(LiveCapture, TrailingCommaIsRefusedWithBothMessages) {
  REQUIRE_LAB(lab);
  LiveCapture cap;
  ASSERT_TRUE(cap.monitor.set_FilterIP(lab.peerIp() + ","));
  ASSERT_TRUE(cap.monitor.Open());
  ASSERT_TRUE(cap.monitor.SelectAdapter(lab.localIf()));
  EXPECT_FALSE(cap.monitor.StartCapture());
  EXPECT_FALSE(cap.monitor.isBound());
  EXPECT_EQ(cap.monitor.get_driverp(), nullptr);
  const auto errors = cap.LinesStartingWith("TKelNetMonitor Error: ");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(
      errors[0].rfind("TKelNetMonitor Error: Failed to compile bpf filter on " + lab.localIf() + ": ", 0),
      0u);
  EXPECT_EQ(errors[1], "TKelNetMonitor Error: Failed to install ip filter " + lab.peerIp() + ",.");
}

TEST(LiveCapture, PauseAndResumeRebindAndKeepCounting) {
  REQUIRE_LAB(lab);
  LiveCapture cap;
  ASSERT_TRUE(cap.Start(lab.localIf()));
  ASSERT_TRUE(lab.InjectFromPeer(Markers(0, 5)));
  ASSERT_TRUE(LiveCapture::WaitUntil([&] { return cap.Markers().size() >= 5; }, kArrival));

  cap.monitor.PauseCapture();
  EXPECT_EQ(cap.monitor.get_driverp(), nullptr);
  ASSERT_TRUE(lab.InjectFromPeer(Markers(100, 5)));  // nobody listens now
  LiveCapture::Settle(200ms);

  ASSERT_TRUE(cap.monitor.StartCapture());
  EXPECT_NE(cap.monitor.get_driverp(), nullptr);
  ASSERT_TRUE(lab.InjectFromPeer(Markers(5, 5)));
  ASSERT_TRUE(LiveCapture::WaitUntil([&] { return cap.Markers().size() >= 10; }, kArrival));
  LiveCapture::Settle(100ms);
  EXPECT_EQ(cap.Markers(), Range(0, 10));
  ExpectConsecutiveSequence(cap.frames());
}

// A full batch is read again at once: a burst far larger than one batch must
// not be spread over one thread pause per batch.
TEST(LiveCapture, BurstIsReadWithoutPausingBetweenFullBatches) {
  REQUIRE_LAB(lab);
  LiveCapture cap;
  ASSERT_TRUE(cap.Start(lab.localIf(), 1000));  // a long pause: each extra turn costs a second
  LiveCapture::Settle(100ms);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(lab.InjectFromPeer(Markers(0, 600)));
  ASSERT_TRUE(LiveCapture::WaitUntil([&] { return cap.Markers().size() >= 600; }, 15000ms))
      << "delivered " << cap.Markers().size();
  // 600 frames are twelve batches; paused after each, they would take eleven seconds.
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5000ms);
  EXPECT_EQ(cap.Markers(), Range(0, 600));
}

// Operations that must not wait for a frame on an idle adapter. A read time-out
// far longer than the limit shows that the driver wakes the read rather than
// waiting it out.
struct IdleOperation {
  const char* name;
  std::function<void(LiveCapture&, const VethLab&)> run;
};

TEST(LiveCapture, OperationsOnAnIdleAdapterReturnPromptly) {
  if (!netvane::lab::SkipReason().empty()) GTEST_SKIP() << netvane::lab::SkipReason();
  const std::vector<IdleOperation> operations = {
      {"Pause", [](LiveCapture& c, const VethLab&) { c.monitor.PauseCapture(); }},
      {"Stop", [](LiveCapture& c, const VethLab&) { c.monitor.StopCapture(); }},
      {"Close", [](LiveCapture& c, const VethLab&) { c.monitor.Close(); }},
      {"adapter change", [](LiveCapture& c, const VethLab&) { c.monitor.SelectAdapter("lo"); }},
      {"filter change", [](LiveCapture& c, const VethLab& lab) { c.monitor.set_FilterIP(lab.peerIp()); }},
  };
  for (const IdleOperation& op : operations) {
    for (int timeOut : {50, 5000}) {
      SCOPED_TRACE(std::string(op.name) + ", read time-out " + std::to_string(timeOut) + " ms");
      VethLab lab;
      if (!lab.ok()) GTEST_SKIP() << "could not create a veth pair in a namespace";
      LiveCapture cap(timeOut);
      ASSERT_TRUE(cap.Start(lab.localIf()));
      LiveCapture::Settle(300ms);  // the worker is now inside a read
      const auto took = LiveCapture::Timed([&] { op.run(cap, lab); });
      EXPECT_LT(took, 200ms);
      EXPECT_LT(LiveCapture::Timed([&] { cap.monitor.Close(); }), 200ms);
    }
  }
}

// The adapter goes away under a running capture.
struct AdapterLoss {
  const char* name;
  std::function<void(const VethLab&)> cause;
};

TEST(LiveCapture, LostAdapterIsReportedOnceAndHangsNothing) {
  if (!netvane::lab::SkipReason().empty()) GTEST_SKIP() << netvane::lab::SkipReason();
  const std::vector<AdapterLoss> losses = {
      {"link taken down",
       [](const VethLab& lab) { netvane::lab::Sh("ip link set " + lab.localIf() + " down"); }},
      {"link deleted", [](const VethLab& lab) { netvane::lab::Sh("ip link del " + lab.localIf()); }},
  };
  for (const AdapterLoss& loss : losses) {
    for (const char* after : {"Pause", "Stop", "Close"}) {
      SCOPED_TRACE(std::string(loss.name) + ", then " + after);
      VethLab lab;
      if (!lab.ok()) GTEST_SKIP() << "could not create a veth pair in a namespace";
      LiveCapture cap;
      ASSERT_TRUE(cap.Start(lab.localIf()));
      LiveCapture::Settle(200ms);
      loss.cause(lab);
      // About ten turns of the worker: each would report if nothing held it back.
      LiveCapture::Settle(1200ms);
      const auto complaints = cap.LinesStartingWith(kComplained);
      ASSERT_EQ(complaints.size(), 1u);
      EXPECT_GT(complaints[0].size(), kComplained.size() + 1) << "the library's reason is missing";
      const std::string op = after;
      const auto took = LiveCapture::Timed([&] {
        if (op == "Pause") cap.monitor.PauseCapture();
        if (op == "Stop") cap.monitor.StopCapture();
        cap.monitor.Close();
      });
      EXPECT_LT(took, 1000ms);
      EXPECT_FALSE(cap.monitor.isBound());
    }
  }
}

TEST(LiveCapture, BindingAgainStartsANewErrorEpisode) {
  REQUIRE_LAB(lab);
  LiveCapture cap;
  ASSERT_TRUE(cap.Start(lab.localIf()));
  for (int episode = 1; episode <= 2; ++episode) {
    SCOPED_TRACE("episode " + std::to_string(episode));
    LiveCapture::Settle(150ms);
    netvane::lab::Sh("ip link set " + lab.localIf() + " down");
    ASSERT_TRUE(LiveCapture::WaitUntil(
        [&] { return cap.LinesStartingWith(kComplained).size() >= size_t(episode); }, kArrival));
    LiveCapture::Settle(500ms);
    EXPECT_EQ(cap.LinesStartingWith(kComplained).size(), size_t(episode));
    netvane::lab::Sh("ip link set " + lab.localIf() + " up");
    cap.monitor.PauseCapture();
    ASSERT_TRUE(cap.monitor.StartCapture());
  }
}

TEST(LiveCapture, SentFrameReachesTheOtherEnd) {
  REQUIRE_LAB(lab);
  LiveCapture cap;
  ASSERT_TRUE(cap.Start(lab.localIf()));
  VethLab::Receiver receiver(lab);
  ASSERT_TRUE(receiver.ok());
  const Bytes frame =
      netvane::lab::MarkerFrame(0xC0FFEE, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, lab.localMac());
  TKelNetPacket packet(frame.data(), static_cast<uint32_t>(frame.size()), 0, true);
  EXPECT_TRUE(cap.monitor.SendPacket(&packet));
  const auto got =
      receiver.Next([](const Bytes& f) { return netvane::lab::MarkerIndex(f) == 0xC0FFEEu; }, 2000ms);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(*got, frame);

  cap.monitor.PauseCapture();
  EXPECT_FALSE(cap.monitor.SendPacket(&packet)) << "unbound: nothing may be sent";
}

// Adapters whose frames are not Ethernet: never listed, and refused at bind,
// before anything opens them, with a reason that says what they are.
TEST(LiveCapture, NonEthernetAdaptersAreAbsentAndRefused) {
  REQUIRE_LAB(lab);
  const std::string tun = "nvt" + std::to_string(getpid());
  const bool haveTun =
      netvane::lab::Sh("ip tuntap add dev " + tun + " mode tun && ip link set " + tun + " up") == 0;
  LiveCapture cap;
  ASSERT_TRUE(cap.monitor.Open());
  std::vector<std::string> listed;
  for (int i = 0; i < cap.monitor.adapterCount(); ++i) listed.push_back(cap.monitor.adapterName(i));
  EXPECT_NE(std::find(listed.begin(), listed.end(), lab.localIf()), listed.end());

  std::vector<std::pair<std::string, std::string>> refused = {{"any", "not a network interface"}};
  if (haveTun) refused.push_back({tun, "hardware type is none (65534), not Ethernet"});
  for (const auto& [name, linkType] : refused) {
    SCOPED_TRACE(name);
    EXPECT_EQ(std::find(listed.begin(), listed.end(), name), listed.end()) << name << " is listed";
    cap.monitor.AddAdapter(name, name);  // as if a host had listed it anyway
    EXPECT_FALSE(cap.monitor.SelectAdapter(name) && cap.monitor.StartCapture());
    EXPECT_EQ(cap.monitor.get_driverp(), nullptr);
    const auto errors =
        cap.LinesStartingWith("TKelNetMonitor Error: WinPcap driver refused adapter " + name + ": ");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(linkType), std::string::npos) << errors[0];
  }
  // Every adapter that is listed opens as Ethernet.
  for (const std::string& name : listed) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(cap.monitor.SelectAdapter(name) && cap.monitor.StartCapture());
    cap.monitor.PauseCapture();
  }
  if (haveTun) netvane::lab::Sh("ip link del " + tun);
}

}  // namespace
