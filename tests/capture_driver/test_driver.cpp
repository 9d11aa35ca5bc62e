// The capture driver without a real adapter: settings, what it does while
// unbound, and how it refuses names.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QVariant>

#include <arpa/inet.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "capture/KelWinPcapNetMonitor.h"

namespace {

// Records the status lines, so the errors can be read.
class RecordingMonitor : public TKelWinPcapNetMonitor {
 public:
  RecordingMonitor() {
    setShowErrMsgBox(false);
    setOnStatusMessage([this](TKelNetMonitor*, const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex);
      lines.push_back(line);
    });
  }
  std::vector<std::string> Errors() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> out;
    for (const auto& l : lines)
      if (l.rfind("TKelNetMonitor Error: ", 0) == 0) out.push_back(l);
    return out;
  }
  std::mutex mutex;
  std::vector<std::string> lines;
};

TEST(WinPcapDriver, PublishedSettings) {
  TKelWinPcapNetMonitor designed(nullptr, true);
  TKelWinPcapNetMonitor running;
  struct Case {
    const char* property;
    int designDefault;
  };
  for (const Case& c : {Case{"MaxPacketsPerCall", 50}, Case{"TimeOut", 50}, Case{"MaxPacketSize", 20000}}) {
    SCOPED_TRACE(c.property);
    EXPECT_EQ(designed.property(c.property).toInt(), c.designDefault);
    // At run time the owning window's stored values apply; until then they are 0.
    EXPECT_EQ(running.property(c.property).toInt(), 0);
    ASSERT_TRUE(running.setProperty(c.property, 1234));
    EXPECT_EQ(running.property(c.property).toInt(), 1234);
  }
  EXPECT_EQ(running.MaxPacketsPerCall + running.TimeOut + running.MaxPacketSize, 3 * 1234);
}

TEST(WinPcapDriver, IdentityAndUnboundBehaviour) {
  RecordingMonitor m;
  EXPECT_EQ(m.get_DriverName(), "WinPcap");
  EXPECT_EQ(m.get_driverp(), nullptr);
  const uint8_t bytes[60] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  TKelNetPacket packet(bytes, sizeof bytes, 0, true);
  EXPECT_FALSE(m.SendPacket(&packet));
  const auto start = std::chrono::steady_clock::now();
  m.TakeTimeToProcess();  // unbound: returns at once, calls no library function
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
  EXPECT_EQ(m.receivedCount(), 0);
  EXPECT_TRUE(m.Errors().empty());
  unsigned received = 0, dropped = 0;
  EXPECT_FALSE(m.GetKernelStats(received, dropped));
}

TEST(WinPcapDriver, BindRefusals) {
  struct Case {
    const char* name;
    std::string adapter;
    std::string errorStart;
  };
  const std::string tooLong(256, 'e');
  const std::string longest(255, 'e');
  const Case cases[] = {
      {"longer than 255 characters", tooLong,
       "TKelNetMonitor Error: WinPcap driver failed to open adapter " + tooLong +
           ": the name is longer than 255 characters."},
      {"255 characters reach the capture helper", longest,
       "TKelNetMonitor Error: WinPcap driver failed to open adapter " + longest + ": "},
      {"no such adapter", "nv-nosuch0",
       "TKelNetMonitor Error: WinPcap driver failed to open adapter nv-nosuch0: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingMonitor m;
    m.MaxPacketSize = 20000;
    m.TimeOut = 50;
    EXPECT_FALSE(m.Driver_BindAdapter(c.adapter.c_str()));
    EXPECT_EQ(m.get_driverp(), nullptr);
    const auto errors = m.Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind(c.errorStart, 0), 0u) << errors[0];
    // The helper's reason follows the name where the helper was asked.
    if (c.errorStart.back() == ' ') {
      EXPECT_GT(errors[0].size(), c.errorStart.size() + 1);
    }
  }
}

// This process's child of that name, -1 when there is none.
pid_t ChildNamed(const std::string& name) {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream children(task.path() / "children");
    for (pid_t pid; children >> pid;) {
      std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
      std::string command;
      if (std::getline(comm, command) && command == name) return pid;
    }
  }
  return -1;
}

// A helper that stops answering (here: stopped by a signal) costs its caller
// a second at most and one clear error, after which the driver no longer
// asks it anything.
TEST(WinPcapDriver, AHelperThatStopsAnsweringGivesOneClearError) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to open lo";
  RecordingMonitor m;
  m.MaxPacketSize = 20000;
  m.TimeOut = 50;
  ASSERT_TRUE(m.Driver_BindAdapter("lo")) << (m.Errors().empty() ? "" : m.Errors()[0]);
  const pid_t helper = ChildNamed("netvane-capture");
  ASSERT_GT(helper, 0);
  unsigned received = 0, dropped = 0;
  ASSERT_TRUE(m.GetKernelStats(received, dropped));
  ASSERT_EQ(kill(helper, SIGSTOP), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(m.GetKernelStats(received, dropped));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_LT(waited, std::chrono::seconds(2)) << "the caller hung on the helper";
  EXPECT_FALSE(m.GetKernelStats(received, dropped));
  EXPECT_EQ(m.get_driverp(), nullptr);
  const auto errors = m.Errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(
      errors[0],
      "TKelNetMonitor Error: WinPcap driver could not read the kernel's counters: the capture helper did "
      "not answer within 1 s.");
  EXPECT_EQ(ChildNamed("netvane-capture"), -1) << "the stopped helper was left behind";
}

TEST(LocalAddress, IPStringToAddr) {
  struct Case {
    const char* text;
    uint32_t expected;
  };
  const Case cases[] = {
      {"", 0u},
      {"1.2.3.4", htonl(0x01020304u)},
      {"192.168.0.5", htonl(0xC0A80005u)},
      {"not an address", 0xFFFFFFFFu},
      {"256.1.1.1", 0xFFFFFFFFu},
  };
  for (const Case& c : cases) EXPECT_EQ(TKelNetMonitor::IPStringToAddr(c.text), c.expected) << c.text;
}

TEST(LocalAddress, ListIsDottedAddressesJoinedByCommas) {
  // Whatever this machine's name resolves to, the form is fixed.
  const std::string list = TKelNetMonitor::get_LocalIPs();
  if (list.empty()) GTEST_SKIP() << "this machine's host name resolves to no IPv4 address";
  size_t start = 0;
  for (;;) {
    const size_t comma = list.find(',', start);
    const std::string address = list.substr(start, comma - start);
    in_addr parsed{};
    EXPECT_EQ(inet_pton(AF_INET, address.c_str(), &parsed), 1) << "'" << address << "' in " << list;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
