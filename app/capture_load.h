#pragma once
// Opening a file in the main window: a capture file (pcap with micro- or
// nanosecond time stamps, pcapng) read through libpcap, or one of the two
// files the save dialog writes (a frame's bytes, or its hex text). The frames
// go into the frame list in slices (file_job.h); the window lists them as it
// lists captured frames.

#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "app/file_job.h"
#include "decode/frame_list.h"
#include "pcapfile/capture_reader.h"

class TCaptureLoad : public TFileJob {
  Q_OBJECT
 public:
  // Opens `path` and checks what it holds. Null when it cannot be listed;
  // `why` then holds the whole message for the user.
  static std::unique_ptr<TCaptureLoad> Open(const QString& path, QWidget* window, QString& why);
  ~TCaptureLoad() override;

  // Where the frames go. Each slice appends under `appendLock`.
  void SetTarget(netvane::FrameList& frames, std::mutex& appendLock);

  enum class Outcome { Complete, Damaged, Full, Cancelled };
  // Once finished.
  Outcome outcome() const;
  uint32_t stored() const { return stored_; }
  // For a damaged file: the message for the user.
  QString DamageText() const;

  // Frame files above this size are not taken for a saved frame: a frame has
  // at most 262144 bytes (libpcap's largest snapshot length), whose hex text
  // takes three times as much and a line break.
  static constexpr uint64_t kMaxFrameFileBytes = 3 * uint64_t{262144} + 2;

 signals:
  // Frames were appended (after each slice that appended some).
  void framesStored();

 protected:
  bool Slice(std::chrono::steady_clock::time_point until) override;
  double Progress() const override;

 private:
  TCaptureLoad(QWidget* window, const QString& path, uint64_t size);
  // Appends one frame; false when the list is full.
  bool Store(const uint8_t* data, uint32_t length, netvane::CaptureStamp stamp);

  QString path_;
  uint64_t size_;
  // A capture file, read on from its second record; null for a frame file.
  std::unique_ptr<netvane::CaptureReader> reader_;
  // The capture's first record, read when the file was opened (so a file
  // damaged from its first record on is refused before the list is
  // replaced), or the one frame of a frame file, stamped when it was opened.
  bool pending_ = false;
  std::vector<uint8_t> frame_;
  netvane::CaptureStamp stamp_;
  netvane::FrameList* frames_ = nullptr;
  std::mutex* appendLock_ = nullptr;
  uint32_t stored_ = 0;
  bool damaged_ = false;
  bool full_ = false;
  std::string damage_;
};
