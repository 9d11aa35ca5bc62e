#pragma once
// The files of netvane-dump -w. Without rotation, one pcap file (or standard
// output). With rotation, a series of pcap files: a new one is started when
// the current one would grow past a size (-C) or has been written for a time
// (-G), and with a ring (-W) the oldest file is overwritten. Every file is a
// complete capture of its own, with its own file header; a frame is never
// split between two files.
//
// The files are named as tcpdump names them. With -G, the name may hold
// strftime(3) conversions, filled in with the local time at which each file
// starts. Without a ring, the first file of each name is that name and later
// ones have 1, 2, ... appended (cap.pcap, cap.pcap1, cap.pcap2). In a ring of
// COUNT files the number 0 to COUNT-1 is appended, padded with zeros to the
// width of COUNT-1 so that the names sort in order (cap.pcap00 to cap.pcap11
// for 12 files; a ring of one file is the name alone).

#include <cstdint>
#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "pcapfile/pcap_writer.h"

namespace netvane {

struct RotationOptions {
  uint64_t maxFileBytes = 0;  // -C, in bytes; 0: no size limit
  uint32_t seconds = 0;       // -G; 0: not by time
  uint32_t ringFiles = 0;     // -W; 0: files are numbered on
};

class RotatingPcapWriter {
 public:
  RotatingPcapWriter(std::string name, int snapLength, RotationOptions options);
  RotatingPcapWriter(const RotatingPcapWriter&) = delete;
  RotatingPcapWriter& operator=(const RotatingPcapWriter&) = delete;

  // Creates the first file and writes its header.
  bool Open();
  // Adds one frame (see PcapWriter::Write), first starting the next file when
  // the frame would not fit into this one or its time is up. A file always
  // takes its first frame, whatever its size. False once anything failed.
  bool Write(std::span<const uint8_t> frame, int64_t seconds, uint32_t microseconds, uint32_t wireLength);
  bool Flush();
  bool Close();

  bool failed() const { return !error_.empty(); }
  // For the user: "cannot write FILE: reason", followed by "; FILE keeps the
  // first N frames" when FILE had been created. Empty while all is well.
  const std::string& error() const { return error_; }

 private:
  bool NeedsNextFile(std::size_t frameLength, int64_t microsecondsNow) const;
  // Closes the current file and creates the next; `start` names it.
  bool StartFile(std::time_t start, int64_t startMicroseconds);
  bool NextName(std::time_t start, std::string& name);
  // Takes the current file's failure; false.
  bool FileFailed();

  const std::string name_;
  const int snapLength_;
  const RotationOptions options_;
  std::unique_ptr<PcapWriter> file_;
  std::string path_;         // of file_
  uint64_t framesHere_ = 0;  // frames given to file_, buffered ones included
  int64_t fileStart_ = 0;    // microseconds since the epoch
  uint64_t filesStarted_ = 0;
  std::vector<std::string> ringNames_;                    // the file of each ring place, once made
  std::unordered_map<std::string, uint64_t> nextNumber_;  // without a ring, per name
  std::unordered_set<std::string> used_;                  // without a ring, every file made
  std::string error_;
};

}  // namespace netvane
