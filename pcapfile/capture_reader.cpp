#include "pcapfile/capture_reader.h"

namespace netvane {

CaptureReader::~CaptureReader() {
  Close();
}

bool CaptureReader::Open(std::FILE* stream) {
  Close();
  error_.clear();
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  // On success the stream belongs to the pcap handle; on failure it is still ours.
  pcap_ = pcap_fopen_offline_with_tstamp_precision(stream, PCAP_TSTAMP_PRECISION_MICRO, errbuf);
  if (pcap_ == nullptr) {
    std::fclose(stream);
    error_ = errbuf;
    return false;
  }
  return true;
}

int CaptureReader::LinkType() const {
  return pcap_ != nullptr ? pcap_datalink(pcap_) : -1;
}

std::string CaptureReader::LinkTypeName() const {
  const int linkType = LinkType();
  // libpcap maps the file's link-type value to its own DLT number, so the
  // name is what identifies it.
  const char* name = pcap_datalink_val_to_name(linkType);
  return name != nullptr ? std::string(name) : std::to_string(linkType);
}

CaptureReader::Step CaptureReader::Next(CaptureRecord& record) {
  if (pcap_ == nullptr) return Step::End;
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  const int got = pcap_next_ex(pcap_, &header, &data);
  if (got == 1) {
    record.bytes = {data, header->caplen};
    record.seconds = static_cast<int64_t>(header->ts.tv_sec);
    record.microseconds = static_cast<uint32_t>(header->ts.tv_usec);
    record.wireLength = header->len;
    return Step::Frame;
  }
  if (got == PCAP_ERROR_BREAK) return Step::End;
  error_ = pcap_geterr(pcap_);
  return Step::Damaged;
}

void CaptureReader::Close() {
  if (pcap_ != nullptr) pcap_close(pcap_);  // closes the stream too
  pcap_ = nullptr;
}

}  // namespace netvane
