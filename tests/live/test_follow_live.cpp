// Conversations and followed TCP streams of a real capture: several HTTP
// downloads over the veth pair, with segments dropped by nftables both
// before the capturing point (the server sends again: holes filled later,
// segments out of order) and after it (captured, but lost on the way to the
// client: retransmissions the capture holds twice).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>

#include "tests/live/dump_run.h"

namespace {

using netvane::lab::BackgroundDump;
using netvane::lab::Result;
using netvane::lab::RunDump;
using netvane::lab::Sh;

constexpr int kDownloads = 4;
constexpr int kPort = 8080;

std::string ReadAll(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// Fetches each name from the server at once, each over its own connection,
// and keeps the bytes each connection received, whole, in OUT.<k>.
constexpr const char* kClient = R"(
import socket, sys, threading
host, port, out, names = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]
def get(k, name):
    s = socket.create_connection((host, port), timeout=60)
    s.sendall(b"GET /" + name.encode() + b" HTTP/1.0\r\n\r\n")
    data = bytearray()
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        data += chunk
    s.close()
    with open(out + "." + str(k), "wb") as f:
        f.write(data)
threads = [threading.Thread(target=get, args=(k, n)) for k, n in enumerate(names)]
for t in threads: t.start()
for t in threads: t.join()
)";

// One direction of a TCP conversation as tcpdump -e -nn prints its frames.
struct Counted {
  uint64_t frames = 0, bytes = 0;
};

// The TCP conversations of `capture` counted from tcpdump's own reading of
// it: per direction "SRC:PORT>DST:PORT", frames and wire lengths, and the
// unordered pairs in order of their first frame.
void CountWithTcpdump(const std::string& capture, std::map<std::string, Counted>& directions,
                      std::vector<std::pair<std::string, std::string>>& pairs) {
  FILE* p = popen(("tcpdump -e -nn -r " + capture + " tcp 2>/dev/null").c_str(), "r");
  ASSERT_NE(p, nullptr);
  // ... ethertype IPv4 (0x0800), length 74: 10.77.0.1.43210 > 10.77.0.2.8080: Flags ...
  const std::regex line(R"(, length (\d+): (\d+\.\d+\.\d+\.\d+)\.(\d+) > (\d+\.\d+\.\d+\.\d+)\.(\d+): )");
  char buffer[4096];
  while (fgets(buffer, sizeof buffer, p)) {
    std::cmatch m;
    if (!std::regex_search(buffer, m, line)) continue;
    const std::string a = m[2].str() + ":" + m[3].str(), b = m[4].str() + ":" + m[5].str();
    Counted& c = directions[a + ">" + b];
    c.frames += 1;
    c.bytes += std::stoull(m[1].str());
    if (std::find(pairs.begin(), pairs.end(), std::make_pair(a, b)) == pairs.end() &&
        std::find(pairs.begin(), pairs.end(), std::make_pair(b, a)) == pairs.end())
      pairs.emplace_back(a, b);
  }
  pclose(p);
}

// Packets the rules of `ruleset` (nft list output) dropped.
uint64_t Dropped(const std::string& ruleset) {
  uint64_t total = 0;
  const std::regex counter(R"(counter packets (\d+))");
  for (auto it = std::sregex_iterator(ruleset.begin(), ruleset.end(), counter); it != std::sregex_iterator();
       ++it)
    total += std::stoull((*it)[1].str());
  return total;
}

TEST(FollowLive, DownloadsThroughLossFollowByteForByteAndCountAsTcpdumpCounts) {
  if (!netvane::lab::SkipReason().empty()) GTEST_SKIP() << netvane::lab::SkipReason();
  if (Sh("command -v nft") != 0 || Sh("command -v python3") != 0 || Sh("command -v tcpdump") != 0)
    GTEST_SKIP() << "needs nft, python3 and tcpdump";
  netvane::lab::VethLab lab;
  if (!lab.ok()) GTEST_SKIP() << "could not create a veth pair in a namespace";

  const std::string dir = "/tmp/nvfollow" + std::to_string(getpid());
  const std::string capture = dir + "/cap.pcap", received = dir + "/got";
  std::filesystem::create_directories(dir + "/www");
  struct Cleanup {
    const netvane::lab::VethLab& lab;
    std::string dir;
    ~Cleanup() {
      if (std::ifstream pid(dir + "/server.pid"); pid) {
        int id = 0;
        if (pid >> id && id > 0) kill(id, SIGTERM);
      }
      Sh("nft delete table netdev nvfollow; nft delete table inet nvfollow");
      std::filesystem::remove_all(dir);
    }
  } cleanup{lab, dir};

  // Files of different sizes and random bytes, so a stream can only match its own.
  std::mt19937 random(getpid());
  std::vector<std::string> names, bodies;
  for (int k = 0; k < kDownloads; ++k) {
    std::string body(400000 + 150000 * k, '\0');
    for (char& c : body) c = static_cast<char>(random());
    names.push_back("f" + std::to_string(k));
    std::ofstream(dir + "/www/" + names.back(), std::ios::binary) << body;
    bodies.push_back(body);
  }
  std::ofstream(dir + "/client.py") << kClient;

  // Each frame one wire-sized segment (no segmentation offload), so that
  // nftables drops single segments and the snapshot length keeps every frame.
  ASSERT_EQ(Sh("ip link set " + lab.localIf() + " gso_max_segs 1"), 0);
  ASSERT_EQ(lab.InPeer("ip link set " + lab.peerIf() + " gso_max_segs 1"), 0);
  const std::string drop = " numgen random mod 10 == 0 counter drop";
  // Before the capturing point: the server's segments leaving the peer, the
  // client's leaving this namespace's stack (the tap sees egress after output).
  ASSERT_EQ(lab.InPeer("nft add table inet nvfollow && nft add chain inet nvfollow out '{ type filter hook "
                       "output priority 0; }' && nft add rule inet nvfollow out tcp sport " +
                       std::to_string(kPort) + drop),
            0);
  ASSERT_EQ(Sh("nft add table inet nvfollow && nft add chain inet nvfollow out '{ type filter hook output "
               "priority 0; }' && nft add rule inet nvfollow out tcp dport " +
               std::to_string(kPort) + drop),
            0);
  // After it: the server's segments arriving here, captured, then dropped.
  ASSERT_EQ(
      Sh("nft add table netdev nvfollow && nft add chain netdev nvfollow in '{ type filter hook ingress "
         "device " +
         lab.localIf() + " priority 0; }' && nft add rule netdev nvfollow in tcp sport " +
         std::to_string(kPort) + drop),
      0);

  ASSERT_EQ(lab.InPeer("cd " + dir + "/www && python3 -m http.server " + std::to_string(kPort) + " --bind " +
                       lab.peerIp() + " >/dev/null 2>&1 & echo $! >" + dir + "/server.pid"),
            0);
  bool listening = false;
  for (int k = 0; k < 100 && !listening; ++k) {
    listening = lab.InPeer("ss -ltn | grep -q ':" + std::to_string(kPort) + " '") == 0;
    if (!listening) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(listening) << "the HTTP server did not start";

  {
    BackgroundDump dump({"-i", lab.localIf(), "-w", capture});
    ASSERT_TRUE(dump.WaitForErr("listening on", std::chrono::seconds(10))) << dump.Err();
    std::string fetch = "timeout 90 python3 " + dir + "/client.py " + lab.peerIp() + " " +
                        std::to_string(kPort) + " " + received;
    for (const std::string& name : names) fetch += " " + name;
    ASSERT_EQ(Sh(fetch), 0) << "the downloads did not finish";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the last ACKs and FINs
    kill(dump.pid(), SIGINT);
    ASSERT_EQ(dump.Wait(std::chrono::seconds(10)), 0) << dump.Err();
    ASSERT_NE(dump.Err().find(", 0 dropped by the kernel"), std::string::npos) << dump.Err();
  }
  // The loss really happened on both sides of the capturing point.
  std::string peerRules = dir + "/peer.rules";
  lab.InPeer("nft list table inet nvfollow >" + peerRules);
  Sh("nft list table netdev nvfollow | tee " + dir + "/in.rules");
  EXPECT_GT(Dropped(ReadAll(peerRules)), 0u);
  EXPECT_GT(Dropped(ReadAll(dir + "/in.rules")), 0u);

  // Each download's server side is exactly what its client received, the
  // client side exactly its request.
  const Result table = RunDump("--conversations=tcp -r " + capture);
  ASSERT_EQ(table.status, 0) << table.err;
  ASSERT_EQ(netvane::lab::Lines(table.out), 1u + kDownloads) << table.out;
  std::vector<bool> matched(kDownloads, false);
  std::vector<std::string> serverSides;
  for (int n = 0; n < kDownloads; ++n) {
    const Result server = RunDump("--follow=" + std::to_string(n) + ":server -r " + capture);
    ASSERT_EQ(server.status, 0) << server.err;
    EXPECT_EQ(server.err, "") << "stream " << n;
    const Result client = RunDump("--follow=" + std::to_string(n) + ":client " + capture);
    ASSERT_EQ(client.status, 0) << client.err;
    int k = 0;
    while (k < kDownloads && client.out != "GET /" + names[k] + " HTTP/1.0\r\n\r\n") ++k;
    ASSERT_LT(k, kDownloads) << "stream " << n << " client side: " << client.out.substr(0, 200);
    EXPECT_FALSE(matched[k]) << "stream " << n;
    matched[k] = true;
    const std::string got = ReadAll(received + "." + std::to_string(k));
    ASSERT_GE(got.size(), bodies[k].size());
    EXPECT_EQ(got.substr(got.size() - bodies[k].size()), bodies[k]) << "the client's download " << k;
    ASSERT_EQ(server.out.size(), got.size()) << "stream " << n;
    EXPECT_TRUE(server.out == got) << "stream " << n << ": the followed server side differs";
    serverSides.push_back(server.out);
  }
  // The table against tcpdump's reading of the same capture: the same
  // conversations in the same order, A the source of each one's first frame,
  // the same frames and wire bytes each way.
  std::map<std::string, Counted> directions;
  std::vector<std::pair<std::string, std::string>> pairs;
  CountWithTcpdump(capture, directions, pairs);
  std::istringstream rows(table.out);
  std::string row, lastClientPort;
  std::getline(rows, row);  // the header
  for (const auto& [a, b] : pairs) {
    ASSERT_TRUE(std::getline(rows, row));
    std::vector<std::string> cells;
    std::istringstream split(row);
    for (std::string cell; std::getline(split, cell, '\t');) cells.push_back(cell);
    ASSERT_GE(cells.size(), 12u) << row;
    EXPECT_EQ(cells[0] + ":" + cells[1], a) << row;
    EXPECT_EQ(cells[2] + ":" + cells[3], b) << row;
    const Counted ab = directions[a + ">" + b], ba = directions[b + ">" + a];
    EXPECT_EQ(cells[4], std::to_string(ab.frames + ba.frames)) << row;
    EXPECT_EQ(cells[5], std::to_string(ab.bytes + ba.bytes)) << row;
    EXPECT_EQ(cells[6] + " " + cells[7], std::to_string(ab.frames) + " " + std::to_string(ab.bytes)) << row;
    EXPECT_EQ(cells[8] + " " + cells[9], std::to_string(ba.frames) + " " + std::to_string(ba.bytes)) << row;
    lastClientPort = cells[1];
  }
  EXPECT_FALSE(std::getline(rows, row)) << "a conversation tcpdump does not see: " << row;

  // A display filter that takes only the last connection makes it stream 0.
  const Result last = RunDump("--follow=0:server -r " + capture + " tcp port " + lastClientPort);
  EXPECT_EQ(last.status, 0) << last.err;
  EXPECT_TRUE(last.out == serverSides.back()) << "the last stream, filtered";
}

}  // namespace
