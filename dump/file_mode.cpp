#include "dump/file_mode.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace netvane {
namespace {

enum Status { kOk = 0, kDamaged = 1, kUsage = 2 };

uint32_t ReadLe32(std::span<const uint8_t> b) {
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

int Fail(RowPrinter& printer, std::FILE* err, const std::string& file, const char* reason, int status) {
  printer.Flush();  // rows read before the failure come first
  std::fprintf(err, "netvane-dump: %s: %s\n", file.c_str(), reason);
  return status;
}

int DumpCapture(const std::string& file, std::FILE* stream, RowPrinter& printer, std::FILE* err) {
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  // On success the stream belongs to the pcap handle; on failure it is still ours.
  pcap_t* pcap = pcap_fopen_offline(stream, errbuf);
  if (pcap == nullptr) {
    std::fclose(stream);
    return Fail(printer, err, file, errbuf, kDamaged);
  }
  int status = kOk;
  const int linkType = pcap_datalink(pcap);
  if (linkType != DLT_EN10MB) {
    const char* name = pcap_datalink_val_to_name(linkType);
    // libpcap maps the file's link-type value to its own DLT number, so the name is what identifies it.
    std::string reason =
        "link type " + (name != nullptr ? std::string(name) : std::to_string(linkType)) + " is not Ethernet";
    status = Fail(printer, err, file, reason.c_str(), kUsage);
  } else {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    for (;;) {
      const int got = pcap_next_ex(pcap, &header, &data);
      if (got == 1) {
        printer.Print({data, header->caplen});
      } else if (got == PCAP_ERROR_BREAK) {
        break;  // end of file
      } else {
        status = Fail(printer, err, file, pcap_geterr(pcap), kDamaged);
        break;
      }
    }
  }
  pcap_close(pcap);
  return status;
}

int DumpRawFrame(const std::string& file, std::FILE* stream, RowPrinter& printer, std::FILE* err) {
  std::vector<uint8_t> frame;
  uint8_t buffer[1 << 16];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0)
    frame.insert(frame.end(), buffer, buffer + got);
  const bool failed = std::ferror(stream) != 0;
  const int savedErrno = errno;
  std::fclose(stream);
  if (failed) return Fail(printer, err, file, std::strerror(savedErrno), kDamaged);
  printer.Print(frame);
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
  return DumpRawFrame(file, stream, printer, err);
}

}  // namespace

bool LooksLikeCaptureFile(std::span<const uint8_t> head) {
  if (head.size() < 4) return false;
  switch (ReadLe32(head)) {
    case 0xA1B2C3D4:
    case 0xD4C3B2A1:  // pcap, microseconds
    case 0xA1B23C4D:
    case 0x4D3CB2A1:  // pcap, nanoseconds
    case 0xA1B2CD34:
    case 0x34CDB2A1:  // pcap with extended record headers
    case 0x0A0D0D0A:  // pcapng section header block
      return true;
    default:
      return false;
  }
}

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
