#pragma once
// A filter expression in libpcap's language (pcap-filter(7)), compiled for
// Ethernet frames without any capture right, and matched against frames
// already captured: read from a file or held in the spool. netvane-dump -r
// filters with it; so can the window.
//
// Compiling takes a handle from pcap_open_dead, so it needs no adapter.
// Matching runs the compiled program on a frame's stored bytes with its
// captured and wire lengths, as libpcap's own offline reader does. The
// program is read-only once compiled: any number of threads may match with
// one filter at the same time, as long as none compiles into it meanwhile.

#include <pcap/pcap.h>

#include <cstdint>
#include <span>
#include <string>

namespace netvane {

class FrameFilter {
 public:
  FrameFilter() = default;
  ~FrameFilter();
  FrameFilter(const FrameFilter&) = delete;
  FrameFilter& operator=(const FrameFilter&) = delete;

  // Compiles `expression`; the empty one matches every frame. False, with
  // libpcap's own message in `error` and the filter left as it was, when it
  // does not compile.
  bool Compile(const std::string& expression, std::string& error);

  // Whether the frame whose stored bytes are `bytes` and whose length on the
  // wire was `wireLength` (0: its stored length) matches. A filter never
  // compiled matches everything.
  bool Matches(std::span<const uint8_t> bytes, uint32_t wireLength) const;

  // The expression last compiled.
  const std::string& expression() const { return expression_; }

 private:
  bpf_program program_{};
  bool compiled_ = false;
  std::string expression_;
};

}  // namespace netvane
