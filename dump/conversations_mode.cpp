#include "dump/conversations_mode.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <span>

#include "decode/formatters.h"
#include "decode/packet_row.h"
#include "pcapfile/capture_reader.h"
#include "pcapfile/frame_filter.h"
#include "pcapfile/saved_file.h"

namespace netvane {
namespace {

constexpr const char* kHeader =
    "Address A\tPort A\tAddress B\tPort B\tFrames\tBytes\tFrames A->B\tBytes A->B\tFrames B->A\t"
    "Bytes B->A\tRel start\tDuration\tBits/s A->B\tBits/s B->A\n";

void AppendAddress(std::string& out, const ConversationEndpoint& e) {
  const std::span<const uint8_t> address(e.address.data(), e.addressLength);
  if (e.addressLength == 6) {
    AppendColonHex(out, address);
  } else if (e.addressLength == 4) {
    AppendDottedDecimal(out, address);
  } else {
    // glibc's inet_ntop writes the shortest form of RFC 5952.
    char text[INET6_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET6, e.address.data(), text, sizeof text) != nullptr) out += text;
  }
}

void AppendPort(std::string& out, const ConversationEndpoint& e) {
  if (e.hasPort) AppendDecimal(out, e.port);
}

void AppendSeconds(std::string& out, int64_t micros) {
  char text[32];
  const char* sign = micros < 0 ? "-" : "";
  const uint64_t magnitude = micros < 0 ? 0 - static_cast<uint64_t>(micros) : static_cast<uint64_t>(micros);
  std::snprintf(text, sizeof text, "%s%" PRIu64 ".%06" PRIu64, sign, magnitude / 1000000,
                magnitude % 1000000);
  out += text;
}

void AppendRate(std::string& out, const Conversation& c, bool aToB) {
  double rate = 0;
  if (c.BitsPerSecond(aToB, rate)) AppendDecimal(out, static_cast<uint64_t>(std::llround(rate)));
}

int Fail(std::FILE* err, const std::string& file, const std::string& reason, int status) {
  std::fprintf(err, "netvane-dump: %s: %s\n", file.c_str(), reason.c_str());
  return status;
}

}  // namespace

bool ConversationKindNamed(std::string_view name, ConversationKind& kind) {
  constexpr std::pair<std::string_view, ConversationKind> kNames[] = {
      {"eth", ConversationKind::Ethernet}, {"ip", ConversationKind::Ipv4}, {"ipv6", ConversationKind::Ipv6},
      {"tcp", ConversationKind::Tcp},      {"udp", ConversationKind::Udp},
  };
  for (const auto& [text, value] : kNames) {
    if (name == text) {
      kind = value;
      return true;
    }
  }
  return false;
}

bool PrintConversations(const ConversationTable& table, ConversationKind kind, std::FILE* out) {
  std::string text = kHeader;
  for (const Conversation& c : table.Rows(kind)) {
    AppendAddress(text, c.a);
    text += '\t';
    AppendPort(text, c.a);
    text += '\t';
    AppendAddress(text, c.b);
    text += '\t';
    AppendPort(text, c.b);
    for (const uint64_t n : {c.frames(), c.bytes(), c.framesAToB, c.bytesAToB, c.framesBToA, c.bytesBToA}) {
      text += '\t';
      AppendDecimal(text, n);
    }
    text += '\t';
    AppendSeconds(text, c.firstMicros - table.CaptureStartMicros());
    text += '\t';
    AppendSeconds(text, c.durationMicros());
    text += '\t';
    AppendRate(text, c, true);
    text += '\t';
    AppendRate(text, c, false);
    text += '\n';
    if (text.size() >= (1 << 16)) {
      if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) return false;
      text.clear();
    }
  }
  if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) return false;
  return std::fflush(out) == 0;
}

int RunConversations(const std::vector<std::string>& files, ConversationKind kind, const FrameFilter* filter,
                     bool noBroadcast, uint64_t count, std::FILE* out, std::FILE* err) {
  ConversationTable table;
  uint32_t number = 0;
  uint64_t taken = 0;
  const auto done = [&] { return count != 0 && taken >= count; };
  int status = 0;
  const auto take = [&](std::span<const uint8_t> frame, int64_t micros, uint32_t wireLength) {
    if (LeftOut(frame, noBroadcast)) return;
    ++number;
    table.NoteCaptureStart(micros);
    if (filter != nullptr && !filter->Matches(frame, wireLength)) return;
    table.Add(number, frame, wireLength, micros);
    ++taken;
  };
  std::vector<char> readBuffer(1 << 20);  // outlives each reader, which closes its stream
  for (const std::string& file : files) {
    if (done()) break;
    SavedFile saved;
    std::string reason;
    if (!OpenSavedFile(file.c_str(), saved, reason)) {
      status = std::max(status, Fail(err, file, reason, 1));
      continue;
    }
    if (!saved.capture) {
      // A saved frame has no time stamp: it counts at time 0.
      std::vector<uint8_t> frame;
      if (!ReadSavedFrame(saved.stream, frame, reason))
        status = std::max(status, Fail(err, file, reason, 1));
      else
        take(frame, 0, 0);
      continue;
    }
    // Opened again with a large buffer: the stream's own few kilobytes would
    // make reading cost more than counting.
    std::fclose(saved.stream);
    std::FILE* stream = std::fopen(file.c_str(), "rbe");
    if (stream == nullptr) {
      status = std::max(status, Fail(err, file, std::strerror(errno), 1));
      continue;
    }
    std::setvbuf(stream, readBuffer.data(), _IOFBF, readBuffer.size());
    CaptureReader reader;
    if (!reader.Open(stream)) {
      status = std::max(status, Fail(err, file, reader.error(), 1));
      continue;
    }
    if (!reader.IsEthernet()) {
      status =
          std::max(status, Fail(err, file, "link type " + reader.LinkTypeName() + " is not Ethernet", 2));
      continue;
    }
    CaptureRecord record;
    CaptureReader::Step step = CaptureReader::Step::End;
    while (!done() && (step = reader.Next(record)) == CaptureReader::Step::Frame)
      take(record.bytes, record.seconds * 1000000 + record.microseconds, record.wireLength);
    if (step == CaptureReader::Step::Damaged) status = std::max(status, Fail(err, file, reader.error(), 1));
  }
  // What was read before a damaged file is printed all the same.
  if (!PrintConversations(table, kind, out)) {
    std::fprintf(err, "netvane-dump: writing the output failed\n");
    status = std::max(status, 1);
  }
  return status;
}

}  // namespace netvane
