#include "dump/file_mode.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "decode/frame_size.h"
#include "decode/packet_row.h"
#include "pcapfile/capture_reader.h"
#include "pcapfile/frame_filter.h"
#include "pcapfile/pcap_writer.h"
#include "pcapfile/saved_file.h"

namespace netvane {
namespace {

enum Status { kOk = 0, kDamaged = 1, kUsage = 2 };

// One run over the files: the frames go to the rows or to the write file.
class FileRun {
 public:
  FileRun(const FileModeOptions& options, std::FILE* out, std::FILE* err)
      : options_(options), printer_(out, options.print), err_(err) {}

  // Creates the write file, if any, before a frame is read.
  bool OpenOutput() {
    if (options_.writeFile.empty()) return true;
    writer_ = std::make_unique<PcapWriter>();
    // Every record a reader hands out fits this snapshot length, whatever
    // file it came from.
    if (writer_->Open(options_.writeFile, static_cast<int>(kMaxFrameBytes))) return true;
    std::fprintf(err_, "netvane-dump: %s\n", writer_->error().c_str());
    return false;
  }

  int DumpFile(const std::string& file) {
    SavedFile saved;
    std::string reason;
    if (!OpenSavedFile(file.c_str(), saved, reason)) return Fail(file, reason.c_str(), kDamaged);
    if (saved.capture) return DumpCapture(file, saved.stream);
    return DumpFrameFile(file, saved.stream);
  }

  // -c is reached, or the write file failed: nothing more is read.
  bool done() const { return (options_.count != 0 && kept_ >= options_.count) || writeFailed_; }

  // Writes what is left; false when the output could not be written.
  bool Finish() {
    bool written = printer_.Flush();
    if (!written) std::fprintf(err_, "netvane-dump: writing the output failed: %s\n", std::strerror(errno));
    if (writer_ && !writer_->Close()) {
      if (!writeFailed_) std::fprintf(err_, "netvane-dump: %s\n", writer_->error().c_str());
      written = false;
    }
    return written && !writeFailed_;
  }

 private:
  int Fail(const std::string& file, const char* reason, int status) {
    printer_.Flush();  // rows read before the failure come first
    std::fprintf(err_, "netvane-dump: %s: %s\n", file.c_str(), reason);
    return status;
  }

  // One frame: printed (or numbered only, when the filter leaves it out) or written.
  void Take(std::span<const uint8_t> frame, const FrameStamp& stamp) {
    const bool match = options_.filter == nullptr || options_.filter->Matches(frame, stamp.wireLength);
    if (!writer_) {
      if (printer_.Print(frame, stamp, match)) ++kept_;
      return;
    }
    if (!match || LeftOut(frame, options_.print.noBroadcast)) return;
    if (writer_->Write(frame, stamp.seconds, stamp.microseconds, stamp.wireLength)) {
      ++kept_;
      return;
    }
    writeFailed_ = true;
    std::fprintf(err_, "netvane-dump: %s\n", writer_->error().c_str());
  }

  int DumpCapture(const std::string& file, std::FILE* stream) {
    CaptureReader reader;
    if (!reader.Open(stream)) return Fail(file, reader.error().c_str(), kDamaged);
    if (!reader.IsEthernet()) {
      const std::string reason = "link type " + reader.LinkTypeName() + " is not Ethernet";
      return Fail(file, reason.c_str(), kUsage);
    }
    CaptureRecord record;
    while (!done()) {
      switch (reader.Next(record)) {
        case CaptureReader::Step::Frame:
          Take(record.bytes, FrameStamp{true, record.seconds, record.microseconds, record.wireLength});
          break;
        case CaptureReader::Step::End:
          return kOk;
        case CaptureReader::Step::Damaged:
          return Fail(file, reader.error().c_str(), kDamaged);
      }
    }
    return writeFailed_ ? kDamaged : kOk;
  }

  int DumpFrameFile(const std::string& file, std::FILE* stream) {
    std::vector<uint8_t> frame;
    std::string reason;
    // A file too big for a saved frame is refused, as the window refuses it.
    if (!ReadSavedFrame(stream, frame, reason)) return Fail(file, reason.c_str(), kDamaged);
    if (!done()) Take(frame, FrameStamp{});
    return writeFailed_ ? kDamaged : kOk;
  }

  const FileModeOptions& options_;
  RowPrinter printer_;
  std::FILE* err_;
  std::unique_ptr<PcapWriter> writer_;
  uint64_t kept_ = 0;  // frames printed or written
  bool writeFailed_ = false;
};

}  // namespace

int RunFileMode(const std::vector<std::string>& files, const FileModeOptions& options, std::FILE* out,
                std::FILE* err) {
  FileRun run(options, out, err);
  if (!run.OpenOutput()) return kDamaged;
  int status = kOk;
  for (const std::string& file : files) {
    if (run.done()) break;
    status = std::max(status, run.DumpFile(file));
  }
  if (!run.Finish()) status = std::max(status, static_cast<int>(kDamaged));
  return status;
}

}  // namespace netvane
