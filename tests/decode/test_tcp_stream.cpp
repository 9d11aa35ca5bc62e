// The reassembly rules a live capture cannot be made to show on demand:
// sequence numbers that wrap, overlapping and repeated bytes, holes that are
// filled later, acknowledged, cut short by the snapshot length or never
// filled, and which side is the client.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/tcp_stream.h"
#include "tests/support/frames.h"

namespace {

using netvane::StreamSide;
using netvane::testing::Bytes;

constexpr uint8_t kSyn = 0x02, kFin = 0x01, kAck = 0x10, kSynAck = 0x12;

struct Segment {
  bool fromClient;
  uint32_t seq;
  uint8_t flags;
  std::string payload;
  uint32_t ack = 0;
  std::size_t cutTo = 0;  // a snapshot length: the frame keeps only its first cutTo bytes
};

Bytes Frame(const Segment& s) {
  netvane::testing::Ip4Header ip;
  netvane::testing::TcpHeader tcp;
  tcp.sequence = s.seq;
  tcp.acknowledgment = s.ack;
  tcp.flags = s.flags;
  if (!s.fromClient) {
    std::swap(ip.source, ip.destination);
    std::swap(tcp.sourcePort, tcp.destinationPort);
  }
  Bytes f = netvane::testing::Ethernet(netvane::testing::kHostB, netvane::testing::kHostA, 0x0800);
  netvane::testing::AppendIp4(f, ip, 20 + s.payload.size());
  netvane::testing::AppendTcp(f, tcp);
  f.insert(f.end(), s.payload.begin(), s.payload.end());
  if (s.cutTo != 0) f.resize(s.cutTo);
  return f;
}

// What the sink is told, as text: "C:" or "S:" and the bytes of a turn,
// "C[n]" for n missing bytes, "|" between.
class Transcript final : public netvane::StreamSink {
 public:
  void Bytes(StreamSide side, std::span<const uint8_t> data) override {
    const std::string head = side == StreamSide::Client ? "C:" : "S:";
    if (last_ != head) Begin(head);
    text_.append(data.begin(), data.end());
  }
  void Missing(StreamSide side, uint64_t count) override {
    Begin((side == StreamSide::Client ? "C[" : "S[") + std::to_string(count) + "]");
  }
  const std::string& text() const { return text_; }

 private:
  void Begin(const std::string& head) {
    if (!text_.empty()) text_ += "|";
    text_ += head;
    last_ = head;
  }
  std::string text_, last_;
};

struct Case {
  const char* name;
  std::vector<Segment> segments;
  std::string expected;
};

TEST(TcpStream, FollowsBytesNotFrames) {
  const std::vector<Case> cases = {
      {"data across the sequence wrap",
       {{true, 0xFFFFFFFE, kSyn, ""}, {true, 0xFFFFFFFF, kAck, "abcd"}, {true, 3, kAck, "efgh"}},
       "C:abcdefgh"},
      {"a segment held ahead of a hole across the wrap, filled later",
       {{true, 0xFFFFFFFD, kSyn, ""}, {true, 4, kAck, "ghij"}, {true, 0xFFFFFFFE, kAck, "abcdef"}},
       "C:abcdefghij"},
      {"overlapping and repeated bytes appear once",
       {{true, 100, kSyn, ""},
        {true, 101, kAck, "abcdef"},
        {true, 103, kAck, "cdefgh"},
        {true, 101, kAck, "abc"},
        {true, 100, kSyn, ""}},
       "C:abcdefgh"},
      {"a hole the other side acknowledges was never captured",
       {{true, 0, kSyn, ""},
        {true, 1, kAck, "abc"},
        {true, 7, kAck, "ghi"},
        {false, 50, kAck, "", 10},
        {false, 50, kAck, "ok"}},
       "C:abc|C[3]|C:ghi|S:ok"},
      {"a hole left at the end is reported, not filled",
       {{true, 0, kSyn, ""}, {true, 1, kAck, "abc"}, {true, 7, kAck, "ghi"}},
       "C:abc|C[3]|C:ghi"},
      {"bytes the snapshot length cut off are missing",
       {{true, 0, kSyn, ""}, {true, 1, kAck, "abcdefghij", 0, 14 + 20 + 20 + 4}, {true, 11, kAck, "k"}},
       "C:abcd|C[6]|C:k"},
      {"SYN and FIN take a sequence number; bytes before a seen FIN were sent",
       {{false, 500, kSynAck, ""}, {false, 501, kAck, "hello"}, {false, 509, kFin | kAck, ""}},
       "S:hello|S[3]"},
      {"a connection whose start was not captured starts at its first byte",
       {{true, 5000, kAck, "xyz"}, {true, 4990, kAck, "0123456789"}, {true, 5003, kAck, "uvw"}},
       "C:xyzuvw"},
      {"turns in the order their frames came",
       {{true, 0, kSyn, ""},
        {false, 900, kSynAck, "", 1},
        {true, 1, kAck, "GET", 901},
        {false, 901, kAck, "OK", 4},
        {true, 4, kAck | kFin, "BYE", 903},
        {false, 903, kAck | kFin, "", 8}},
       "C:GET|S:OK|C:BYE"},
  };
  for (const Case& c : cases) {
    std::vector<Bytes> frames;
    for (const Segment& s : c.segments) frames.push_back(Frame(s));
    Transcript transcript;
    netvane::TcpStreamFollower follower(0, transcript,
                                        [&frames](uint32_t number, std::vector<uint8_t>& bytes) {
                                          bytes = frames.at(number - 1);
                                          return true;
                                        });
    for (std::size_t k = 0; k < frames.size(); ++k) follower.Add(static_cast<uint32_t>(k + 1), frames[k]);
    follower.Finish();
    EXPECT_EQ(transcript.text(), c.expected) << c.name;
    ASSERT_TRUE(follower.found()) << c.name;
    // The client is the SYN's sender, or the SYN+ACK's receiver, or the first frame's source.
    EXPECT_EQ(follower.client().port, 49152) << c.name;
  }
}

}  // namespace
