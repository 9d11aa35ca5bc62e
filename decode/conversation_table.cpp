#include "decode/conversation_table.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace netvane {
namespace {

// One endpoint as bytes: address, its length, the port.
constexpr std::size_t kEndpointBytes = 16 + 1 + 2;
using EndpointBytes = std::array<uint8_t, kEndpointBytes>;
// The unordered pair: the smaller endpoint first.
using PairKey = std::array<uint8_t, 2 * kEndpointBytes>;

EndpointBytes Encode(const ConversationEndpoint& e) {
  EndpointBytes out{};
  std::copy(e.address.begin(), e.address.end(), out.begin());
  out[16] = e.addressLength;
  out[17] = static_cast<uint8_t>(e.port >> 8);
  out[18] = static_cast<uint8_t>(e.port);
  return out;
}

PairKey KeyOf(const ConversationEndpoint& source, const ConversationEndpoint& destination) {
  EndpointBytes first = Encode(source), second = Encode(destination);
  if (second < first) std::swap(first, second);
  PairKey key;
  std::copy(first.begin(), first.end(), key.begin());
  std::copy(second.begin(), second.end(), key.begin() + kEndpointBytes);
  return key;
}

struct PairHash {
  std::size_t operator()(const PairKey& key) const {
    return std::hash<std::string_view>()(
        std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
  }
};

ConversationEndpoint AddressEndpoint(const uint8_t* address, uint8_t length) {
  ConversationEndpoint e;
  std::memcpy(e.address.data(), address, length);
  e.addressLength = length;
  return e;
}

}  // namespace

bool Conversation::BitsPerSecond(bool aToB, double& rate) const {
  const int64_t micros = durationMicros();
  if (micros <= 0) return false;
  rate = static_cast<double>(aToB ? bytesAToB : bytesBToA) * 8.0 * 1e6 / static_cast<double>(micros);
  return true;
}

bool TcpPairOf(const TransportHeaders& h, TcpPair& pair) {
  if (h.protocol != kProtocolTcp || !h.hasPorts) return false;
  pair.source = AddressEndpoint(h.srcIp.data(), h.addressLength);
  pair.source.hasPort = true;
  pair.source.port = h.srcPort;
  pair.destination = AddressEndpoint(h.dstIp.data(), h.addressLength);
  pair.destination.hasPort = true;
  pair.destination.port = h.dstPort;
  return true;
}

bool operator==(const ConversationEndpoint& x, const ConversationEndpoint& y) {
  return Encode(x) == Encode(y);
}

struct TcpStreamNumbers::Index {
  std::unordered_map<PairKey, uint32_t, PairHash> numbers;
};

TcpStreamNumbers::TcpStreamNumbers() : index_(std::make_unique<Index>()) {}
TcpStreamNumbers::~TcpStreamNumbers() = default;

uint32_t TcpStreamNumbers::NumberOf(const TcpPair& pair) {
  const auto next = static_cast<uint32_t>(index_->numbers.size());
  return index_->numbers.try_emplace(KeyOf(pair.source, pair.destination), next).first->second;
}

struct ConversationTable::Index {
  std::unordered_map<PairKey, uint32_t, PairHash> rows;  // pair -> row
  // The pair of the last frame: runs of one connection's frames skip the hash.
  PairKey last{};
  uint32_t lastRow = UINT32_MAX;
};

ConversationTable::ConversationTable() {
  for (auto& index : index_) index = std::make_unique<Index>();
}

ConversationTable::~ConversationTable() = default;

void ConversationTable::NoteCaptureStart(int64_t micros) {
  if (started_) return;
  started_ = true;
  start_ = micros;
}

const std::vector<Conversation>& ConversationTable::Rows(ConversationKind kind) const {
  return rows_[static_cast<int>(kind)];
}

void ConversationTable::Add(uint32_t number, std::span<const uint8_t> bytes, uint32_t wireLength,
                            int64_t micros) {
  NoteCaptureStart(micros);
  const uint64_t length = wireLength != 0 ? wireLength : bytes.size();
  const TransportHeaders h = DecodeTransportHeaders(bytes);
  if (!h.ethernet) return;

  const auto count = [&](ConversationKind kind, const ConversationEndpoint& source,
                         const ConversationEndpoint& destination) {
    const int k = static_cast<int>(kind);
    std::vector<Conversation>& rows = rows_[k];
    Index& index = *index_[k];
    const PairKey key = KeyOf(source, destination);
    if (index.lastRow == UINT32_MAX || key != index.last) {
      const auto [at, added] = index.rows.try_emplace(key, static_cast<uint32_t>(rows.size()));
      if (added) {
        Conversation c;
        c.a = source;
        c.b = destination;
        c.firstMicros = c.lastMicros = micros;
        c.firstFrame = number;
        rows.push_back(c);
      }
      index.last = key;
      index.lastRow = at->second;
    }
    Conversation& c = rows[index.lastRow];
    // A to A (a host talking to itself) counts as A to B.
    const bool aToB = source == c.a;
    (aToB ? c.framesAToB : c.framesBToA) += 1;
    (aToB ? c.bytesAToB : c.bytesBToA) += length;
    // Time stamps of a capture need not rise (merged files); the span covers them all.
    c.firstMicros = std::min(c.firstMicros, micros);
    c.lastMicros = std::max(c.lastMicros, micros);
  };

  count(ConversationKind::Ethernet, AddressEndpoint(h.srcMac.data(), 6), AddressEndpoint(h.dstMac.data(), 6));
  if (h.network == NetworkKind::None) return;
  const ConversationEndpoint src = AddressEndpoint(h.srcIp.data(), h.addressLength);
  const ConversationEndpoint dst = AddressEndpoint(h.dstIp.data(), h.addressLength);
  count(h.network == NetworkKind::Ipv4 ? ConversationKind::Ipv4 : ConversationKind::Ipv6, src, dst);
  if (!h.hasPorts) return;
  TcpPair pair;
  if (TcpPairOf(h, pair)) {
    count(ConversationKind::Tcp, pair.source, pair.destination);
  } else if (h.protocol == kProtocolUdp) {
    ConversationEndpoint s = src, d = dst;
    s.hasPort = d.hasPort = true;
    s.port = h.srcPort;
    d.port = h.dstPort;
    count(ConversationKind::Udp, s, d);
  }
}

}  // namespace netvane
