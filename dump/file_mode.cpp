#include "dump/file_mode.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "pcapfile/capture_reader.h"
#include "pcapfile/saved_file.h"

namespace netvane {
namespace {

enum Status { kOk = 0, kDamaged = 1, kUsage = 2 };

int Fail(RowPrinter& printer, std::FILE* err, const std::string& file, const char* reason, int status) {
  printer.Flush();  // rows read before the failure come first
  std::fprintf(err, "netvane-dump: %s: %s\n", file.c_str(), reason);
  return status;
}

int DumpCapture(const std::string& file, std::FILE* stream, RowPrinter& printer, std::FILE* err) {
  CaptureReader reader;
  if (!reader.Open(stream)) return Fail(printer, err, file, reader.error().c_str(), kDamaged);
  if (!reader.IsEthernet()) {
    const std::string reason = "link type " + reader.LinkTypeName() + " is not Ethernet";
    return Fail(printer, err, file, reason.c_str(), kUsage);
  }
  CaptureRecord record;
  for (;;) {
    switch (reader.Next(record)) {
      case CaptureReader::Step::Frame:
        printer.Print(record.bytes);
        break;
      case CaptureReader::Step::End:
        return kOk;
      case CaptureReader::Step::Damaged:
        return Fail(printer, err, file, reader.error().c_str(), kDamaged);
    }
  }
}

int DumpFrameFile(const std::string& file, std::FILE* stream, RowPrinter& printer, std::FILE* err) {
  std::vector<uint8_t> frame;
  std::string reason;
  // A file too big for a saved frame is refused, as the window refuses it.
  if (!ReadSavedFrame(stream, frame, reason)) return Fail(printer, err, file, reason.c_str(), kDamaged);
  printer.Print(frame);
  return kOk;
}

int DumpFile(const std::string& file, RowPrinter& printer, std::FILE* err) {
  SavedFile saved;
  std::string reason;
  if (!OpenSavedFile(file.c_str(), saved, reason)) return Fail(printer, err, file, reason.c_str(), kDamaged);
  if (saved.capture) return DumpCapture(file, saved.stream, printer, err);
  return DumpFrameFile(file, saved.stream, printer, err);
}

}  // namespace

int RunFileMode(const std::vector<std::string>& files, const PrintOptions& options, std::FILE* out,
                std::FILE* err) {
  RowPrinter printer(out, options);
  int status = kOk;
  for (const std::string& file : files) status = std::max(status, DumpFile(file, printer, err));
  if (!printer.Flush()) {
    std::fprintf(err, "netvane-dump: writing the output failed: %s\n", std::strerror(errno));
    status = std::max(status, static_cast<int>(kDamaged));
  }
  return status;
}

}  // namespace netvane
