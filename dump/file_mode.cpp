#include "dump/file_mode.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "decode/frame_file.h"
#include "pcapfile/capture_reader.h"

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
  std::vector<uint8_t> content;
  uint8_t buffer[1 << 16];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0)
    content.insert(content.end(), buffer, buffer + got);
  const bool failed = std::ferror(stream) != 0;
  const int savedErrno = errno;
  std::fclose(stream);
  if (failed) return Fail(printer, err, file, std::strerror(savedErrno), kDamaged);
  printer.Print(FrameFromPacketFile(content));
  return kOk;
}

int DumpFile(const std::string& file, RowPrinter& printer, std::FILE* err) {
  std::FILE* stream = std::fopen(file.c_str(), "rb");
  if (stream == nullptr) return Fail(printer, err, file, std::strerror(errno), kDamaged);
  uint8_t head[4] = {};
  const std::size_t got = std::fread(head, 1, sizeof head, stream);
  if (std::ferror(stream) != 0) {
    const int savedErrno = errno;
    std::fclose(stream);
    return Fail(printer, err, file, std::strerror(savedErrno), kDamaged);
  }
  std::rewind(stream);
  if (LooksLikeCaptureFile({head, got})) return DumpCapture(file, stream, printer, err);
  return DumpFrameFile(file, stream, printer, err);
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
