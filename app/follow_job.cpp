#include "app/follow_job.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "decode/transport_headers.h"
#include "pcapfile/frame_filter.h"
#include "pcapfile/frame_list.h"
#include "pcapfile/spool.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr uint32_t kClockEvery = 1024;
}  // namespace

// Passes the reassembled bytes into the buffer and the turns; the buffer goes
// to the file when full and before every report.
class TFollowJob::Sink : public netvane::StreamSink {
 public:
  explicit Sink(TFollowJob& job) : job_(job) {}
  void Bytes(netvane::StreamSide side, std::span<const uint8_t> data) override {
    if (data.empty() || !job_.FState.error.empty()) return;
    if (job_.FBuffer.size() + data.size() > kBufferBytes && !job_.WriteOut()) return;
    const uint64_t at = job_.FWritten + job_.FBuffer.size();
    if (data.size() >= kBufferBytes) {
      // A block this large goes straight to the file.
      job_.FBuffer.insert(job_.FBuffer.end(), data.begin(), data.end());
      if (!job_.WriteOut()) return;
    } else {
      job_.FBuffer.insert(job_.FBuffer.end(), data.begin(), data.end());
    }
    const std::lock_guard<std::mutex> lock(job_.FLock);
    std::vector<TStreamTurn>& turns = job_.FTurns;
    if (!turns.empty() && turns.back().side == side && !turns.back().missing)
      turns.back().length += data.size();
    else
      turns.push_back(TStreamTurn{at, data.size(), side, false});
    job_.FState.bytes[static_cast<int>(side)] += data.size();
  }
  void Missing(netvane::StreamSide side, uint64_t count) override {
    const std::lock_guard<std::mutex> lock(job_.FLock);
    job_.FTurns.push_back(TStreamTurn{job_.FWritten + job_.FBuffer.size(), count, side, true});
    job_.FState.missing[static_cast<int>(side)] += count;
  }

 private:
  TFollowJob& job_;
};

TFollowJob::TFollowJob(const netvane::FrameList& frames, uint32_t stream, uint32_t byFrame,
                       std::shared_ptr<const netvane::FrameFilter> filter)
    : FFrames(frames), FStream(stream), FByFrame(byFrame), FFilter(std::move(filter)) {
  std::string path, error;
  FFile = netvane::CreateSpool({}, path, error);
  if (FFile < 0) {
    FState.error = error;
    FState.done = true;
    return;
  }
  FBuffer.reserve(kBufferBytes);
  FThread = std::thread([this] { Walk(); });
}

TFollowJob::~TFollowJob() {
  Stop();
  if (FFile >= 0) ::close(FFile);
}

void TFollowJob::Stop() {
  FStop.store(true);
  if (FThread.joinable()) FThread.join();
}

TFollowState TFollowJob::State() const {
  const std::lock_guard<std::mutex> lock(FLock);
  FPosted.store(false);
  TFollowState s = FState;
  s.turns = FTurns.size();
  return s;
}

std::vector<TStreamTurn> TFollowJob::TurnsIn(uint64_t from, uint64_t to) const {
  const std::lock_guard<std::mutex> lock(FLock);
  const bool end = FState.done && to >= FState.readable;
  // The first turn that ends after `from` (a missing run ends where it starts).
  auto it = std::lower_bound(FTurns.begin(), FTurns.end(), from, [](const TStreamTurn& t, uint64_t at) {
    return t.offset + (t.missing ? 0 : t.length) < at || (t.missing && t.offset < at);
  });
  std::vector<TStreamTurn> out;
  for (; it != FTurns.end(); ++it) {
    if (it->offset > to || (it->offset == to && !(end && it->missing))) break;
    if (!it->missing && it->offset + it->length <= from) continue;
    if (!it->missing && it->offset >= to) break;
    out.push_back(*it);
  }
  return out;
}

bool TFollowJob::Read(uint64_t offset, std::size_t length, std::vector<uint8_t>& bytes) const {
  bytes.resize(length);
  std::size_t got = 0;
  while (got < length) {
    const ssize_t n = ::pread(FFile, bytes.data() + got, length - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

bool TFollowJob::WriteOut() {
  std::size_t put = 0;
  while (put < FBuffer.size()) {
    const ssize_t n =
        ::pwrite(FFile, FBuffer.data() + put, FBuffer.size() - put, static_cast<off_t>(FWritten + put));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::lock_guard<std::mutex> lock(FLock);
      FState.error = std::string("cannot write the stream's file: ") + std::strerror(n < 0 ? errno : ENOSPC);
      FStop.store(true);
      return false;
    }
    put += static_cast<std::size_t>(n);
  }
  FWritten += FBuffer.size();
  FBuffer.clear();
  const std::lock_guard<std::mutex> lock(FLock);
  FState.readable = FWritten;
  return true;
}

void TFollowJob::Report() {
  if (!FPosted.exchange(true)) QMetaObject::invokeMethod(this, &TFollowJob::progressed, Qt::QueuedConnection);
}

void TFollowJob::Walk() {
  const uint32_t count = FFrames.Count();  // the frames listed now; a capture's later ones are not followed
  uint32_t stream = FStream;
  if (FByFrame != 0) {
    // The stream's number: the order of first frames, up to this one.
    netvane::TcpStreamNumbers numbers;
    bool known = false;
    FFrames.ForEachFrame(1, std::min(FByFrame, count), [&](uint32_t number, std::span<const uint8_t> bytes) {
      if (FStop.load(std::memory_order_relaxed)) return false;
      netvane::TcpPair pair;
      if (!netvane::TcpPairOf(netvane::DecodeTransportHeaders(bytes), pair)) return true;
      const uint32_t n = numbers.NumberOf(pair);
      if (number == FByFrame) {
        stream = n;
        known = true;
      }
      return true;
    });
    if (!known) FStop.store(true);
  }
  Sink sink(*this);
  netvane::TcpStreamFollower follower(stream, sink, [this](uint32_t number, std::vector<uint8_t>& bytes) {
    return FFrames.ReadFrame(number, bytes);
  });
  {
    const std::lock_guard<std::mutex> lock(FLock);
    FState.stream = stream;
  }
  const netvane::FrameFilter* filter = FFilter.get();
  Clock::time_point last = Clock::now();
  bool told = false;
  if (!FStop.load()) {
    FFrames.ForEachRecord(
        1, count, [&](uint32_t number, std::span<const uint8_t> bytes, const netvane::CaptureStamp& s) {
          if (FStop.load(std::memory_order_relaxed)) return false;
          if (filter == nullptr || filter->Matches(bytes, s.wireLength)) follower.Add(number, bytes);
          if (!told && follower.found()) {
            const std::lock_guard<std::mutex> lock(FLock);
            FState.found = true;
            FState.client = follower.client();
            FState.server = follower.server();
            told = true;
          }
          // The first page as soon as it is there, then a report per interval.
          if (number % kClockEvery == 0 || (FWritten == 0 && FBuffer.size() >= kBufferBytes / 4)) {
            const Clock::time_point now = Clock::now();
            if (now - last >= std::chrono::milliseconds(kReportMs) || (FWritten == 0 && !FBuffer.empty())) {
              if (!WriteOut()) return false;
              Report();
              last = now;
            }
          }
          return true;
        });
  }
  if (!FStop.load()) follower.Finish();
  if (FState.error.empty()) WriteOut();
  {
    const std::lock_guard<std::mutex> lock(FLock);
    FState.done = true;
  }
  Report();
}
