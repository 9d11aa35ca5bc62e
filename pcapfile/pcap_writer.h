#pragma once
// Writes captured frames to a pcap file with libpcap's own writer
// (pcap_dump): netvane-dump -w and the window's saved captures. Every frame
// takes a record header of kPcapRecordHeaderBytes (capture_format.h), then
// its bytes.
//
// libpcap formats every record into a stream of ours; the bytes are written to
// the file here, always whole records at a time, so the end of every record in
// the file is known. When a write fails (disk full, file too large) the file is
// cut back to the end of its last complete record: it stays readable, with
// every frame it holds intact.

#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "pcapfile/capture_format.h"

namespace netvane {

class PcapWriter {
 public:
  PcapWriter() = default;
  ~PcapWriter();
  PcapWriter(const PcapWriter&) = delete;
  PcapWriter& operator=(const PcapWriter&) = delete;

  // Creates or truncates `path` ("-": standard output) and writes the file
  // header for Ethernet frames of at most `snapLength` bytes.
  bool Open(const std::string& path, int snapLength);
  // The same into `fd`, which stays the caller's (not closed, and cut back
  // after a failure only when `cutBack` says so); `name` is the file's name
  // in error texts.
  bool Open(int fd, const std::string& name, int snapLength, bool cutBack = false);
  // Adds one frame with the capture's time stamp and its length on the wire
  // (0: the frame's own length). False once anything could not be written;
  // from then on nothing more is.
  bool Write(std::span<const uint8_t> frame, int64_t seconds, uint32_t microseconds, uint32_t wireLength);
  // Writes what is buffered.
  bool Flush();
  // Flushes and closes; after a failure, cuts the file back to its last
  // complete frame. False when anything failed, now or before.
  bool Close();

  bool failed() const { return !error_.empty(); }
  // "cannot write PATH: reason"; empty while all is well.
  const std::string& error() const { return error_; }
  // Complete frames in the file so far.
  uint64_t framesInFile() const { return framesInFile_; }
  // Bytes of the file so far, the file header included, counting what is
  // written and what is still buffered.
  uint64_t size() const { return fileOffset_ + pending_.size(); }

 private:
  static ssize_t Collect(void* cookie, const char* data, size_t size);
  void Fail(int error);

  std::string path_;
  pcap_t* dead_ = nullptr;
  pcap_dumper_t* dumper_ = nullptr;
  int fd_ = -1;
  bool ownFd_ = false;
  bool cutBack_ = false;           // a failed write cuts the file back to its last whole record
  std::vector<uint8_t> pending_;   // whole records (and at first the header) not yet written
  std::vector<std::size_t> ends_;  // end of each record in pending_
  std::size_t headerEnd_ = 0;      // end of the file header in pending_ until it is written
  uint64_t fileOffset_ = 0;        // bytes of the file written so far
  uint64_t framesInFile_ = 0;
  std::string error_;
};

}  // namespace netvane
