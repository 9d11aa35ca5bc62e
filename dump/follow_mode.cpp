#include "dump/follow_mode.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cinttypes>
#include <cstring>
#include <string>

#include "decode/tcp_stream.h"
#include "pcapfile/frame_filter.h"
#include "pcapfile/frame_list.h"

namespace netvane {
namespace {

// Output is gathered and written in pieces of this size.
constexpr std::size_t kOutputBlock = 1 << 16;

std::string EndpointText(const ConversationEndpoint& e) {
  char text[INET6_ADDRSTRLEN] = {};
  inet_ntop(e.addressLength == 16 ? AF_INET6 : AF_INET, e.address.data(), text, sizeof text);
  const std::string address = e.addressLength == 16 ? "[" + std::string(text) + "]" : std::string(text);
  return address + ":" + std::to_string(e.port);
}

// Writes what a sink gathers in large pieces; remembers a failed write.
class Output {
 public:
  explicit Output(std::FILE* out) : out_(out) { buffer_.reserve(kOutputBlock); }
  void Append(std::span<const uint8_t> data) {
    buffer_.append(reinterpret_cast<const char*>(data.data()), data.size());
    if (buffer_.size() >= kOutputBlock) Flush();
  }
  void Append(const std::string& text) {
    Append({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
  }
  void Append(char c) {
    buffer_ += c;
    if (buffer_.size() >= kOutputBlock) Flush();
  }
  bool Flush() {
    if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size())
      failed_ = true;
    buffer_.clear();
    if (std::fflush(out_) != 0) failed_ = true;
    return !failed_;
  }

 private:
  std::FILE* out_;
  std::string buffer_;
  bool failed_ = false;
};

// Each side's runs of bytes as text under a line that names the direction.
class TurnPrinter final : public StreamSink {
 public:
  explicit TurnPrinter(Output& out) : out_(out) {}
  // The follower whose endpoints the turn lines name.
  void Name(const TcpStreamFollower& follower) { follower_ = &follower; }

  void Bytes(StreamSide side, std::span<const uint8_t> data) override {
    Turn(side);
    text_.clear();
    for (const uint8_t byte : data) {
      if (byte == '\r') continue;
      const bool shown = byte == '\n' || byte == '\t' || (byte >= 0x20 && byte < 0x7F);
      text_ += shown ? static_cast<char>(byte) : '.';
    }
    if (text_.empty()) return;
    out_.Append(text_);
    lineStart_ = text_.back() == '\n';
  }

  void Missing(StreamSide side, uint64_t count) override {
    Turn(side);
    EndLine();
    out_.Append("[" + std::to_string(count) + " bytes missing]\n");
  }

  void End() {
    if (turn_ >= 0) EndLine();
  }

 private:
  void EndLine() {
    if (!lineStart_) out_.Append('\n');
    lineStart_ = true;
  }

  void Turn(StreamSide side) {
    if (turn_ == static_cast<int>(side)) return;
    if (turn_ >= 0) EndLine();
    turn_ = static_cast<int>(side);
    const std::string client = EndpointText(follower_->client()), server = EndpointText(follower_->server());
    out_.Append(side == StreamSide::Client ? "==> " + client + " to " + server + "\n"
                                           : "<== " + server + " to " + client + "\n");
    lineStart_ = true;
  }

  Output& out_;
  const TcpStreamFollower* follower_ = nullptr;
  int turn_ = -1;
  bool lineStart_ = true;
  std::string text_;  // the bytes of one call, as shown
};

// One side's bytes, raw.
class SideWriter final : public StreamSink {
 public:
  SideWriter(Output& out, StreamSide side) : out_(out), side_(side) {}
  void Bytes(StreamSide side, std::span<const uint8_t> data) override {
    if (side == side_) out_.Append(data);
  }
  void Missing(StreamSide, uint64_t) override {}  // the follower counts them

 private:
  Output& out_;
  StreamSide side_;
};

}  // namespace

std::string ParseFollow(std::string_view value, FollowOptions& options) {
  const std::string quoted = "\"" + std::string(value) + "\"";
  const std::size_t colon = value.find(':');
  const std::string_view number = value.substr(0, colon);
  if (colon != std::string_view::npos) {
    const std::string_view side = value.substr(colon + 1);
    if (side == "client")
      options.output = FollowOptions::Output::Client;
    else if (side == "server")
      options.output = FollowOptions::Output::Server;
    else
      return "option --follow " + quoted + ": the side is client or server";
  }
  const char* end = number.data() + number.size();
  const auto [stop, error] = std::from_chars(number.data(), end, options.stream);
  if (number.empty() || error != std::errc() || stop != end)
    return "option --follow " + quoted +
           ": N is a TCP stream number from 0 (as --conversations=tcp numbers its rows)";
  return {};
}

int RunFollow(const std::string& file, const FollowOptions& options, std::FILE* out, std::FILE* err) {
  FrameList list;
  std::string error;
  if (!list.OpenCapture(file, error)) {
    std::fprintf(err, "netvane-dump: %s: %s\n", file.c_str(), error.c_str());
    return 1;
  }
  Output output(out);
  const SegmentReader reread = [&list](uint32_t number, std::vector<uint8_t>& bytes) {
    return list.ReadFrame(number, bytes);
  };
  const bool turns = options.output == FollowOptions::Output::Turns;
  const StreamSide side =
      options.output == FollowOptions::Output::Client ? StreamSide::Client : StreamSide::Server;
  TurnPrinter printer(output);
  SideWriter writer(output, side);
  TcpStreamFollower follower(options.stream, turns ? static_cast<StreamSink&>(printer) : writer, reread);
  printer.Name(follower);

  // Indexing and following go hand in hand, so the first turn comes at once
  // however large the file.
  uint32_t walked = 0;
  FrameList::Indexing state = FrameList::Indexing::More;
  while (state == FrameList::Indexing::More) {
    state = list.IndexSome(std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
    const uint32_t count = list.Count();
    if (count > walked)
      list.ForEachRecord(walked + 1, count,
                         [&](uint32_t number, std::span<const uint8_t> bytes, const CaptureStamp& stamp) {
                           if (options.filter == nullptr || options.filter->Matches(bytes, stamp.wireLength))
                             follower.Add(number, bytes);
                           return true;
                         });
    walked = count;
  }
  follower.Finish();
  if (turns) printer.End();
  const bool written = output.Flush();

  int status = 0;
  if (state == FrameList::Indexing::Damaged) {
    std::fprintf(err, "netvane-dump: %s: %s\n", file.c_str(), list.IndexError().c_str());
    status = 1;
  }
  if (!follower.found()) {
    std::fprintf(err, "netvane-dump: %s has no TCP stream %" PRIu32 "%s (streams are numbered from 0)\n",
                 file.c_str(), options.stream, options.filter != nullptr ? " among the frames taken" : "");
    return std::max(status, 2);
  }
  if (!turns) {
    if (const uint64_t missing = follower.missing(side); missing != 0)
      std::fprintf(err,
                   "netvane-dump: stream %" PRIu32 ": %" PRIu64 " bytes of the %s side were not captured\n",
                   options.stream, missing, side == StreamSide::Client ? "client" : "server");
  }
  if (!written) {
    std::fprintf(err, "netvane-dump: writing the output failed: %s\n", std::strerror(errno));
    status = std::max(status, 1);
  }
  return status;
}

}  // namespace netvane
