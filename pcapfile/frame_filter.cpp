#include "pcapfile/frame_filter.h"

#include <memory>

#include "decode/frame_size.h"

namespace netvane {

FrameFilter::~FrameFilter() {
  if (compiled_) pcap_freecode(&program_);
}

bool FrameFilter::Compile(const std::string& expression, std::string& error) {
  // Every frame kept anywhere is at most this long, so the program never
  // cuts one. A file carries no netmask: 0, as tcpdump -r takes it, so that
  // "ip broadcast" means 255.255.255.255 (and 0.0.0.0) alike in both.
  const std::unique_ptr<pcap_t, decltype(&pcap_close)> dead(
      pcap_open_dead(DLT_EN10MB, static_cast<int>(kMaxFrameBytes)), pcap_close);
  if (!dead) {
    error = "the capture library cannot compile filters";
    return false;
  }
  bpf_program program{};
  if (pcap_compile(dead.get(), &program, expression.c_str(), 1, 0) < 0) {
    error = pcap_geterr(dead.get());
    return false;
  }
  if (compiled_) pcap_freecode(&program_);
  program_ = program;
  compiled_ = true;
  expression_ = expression;
  return true;
}

bool FrameFilter::Matches(std::span<const uint8_t> bytes, uint32_t wireLength) const {
  if (!compiled_) return true;
  pcap_pkthdr header{};
  header.caplen = static_cast<bpf_u_int32>(bytes.size());
  header.len = wireLength != 0 ? wireLength : header.caplen;
  return pcap_offline_filter(&program_, &header, bytes.data()) != 0;
}

}  // namespace netvane
