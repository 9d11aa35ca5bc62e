#pragma once
// Opening a file in the main window: a capture file (pcap with micro- or
// nanosecond time stamps, pcapng), indexed in place a slice at a time
// (file_job.h), or one of the two files the save dialog writes (a frame's
// bytes, or its hex text), whose frame goes to the spool. The window lists the
// frames as it lists captured frames.

#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "app/file_job.h"
#include "pcapfile/frame_list.h"

class TCaptureLoad : public TFileJob {
  Q_OBJECT
 public:
  // Opens `path` and checks what it holds, a capture up to its first frame.
  // Null when it cannot be listed, an empty file or a capture without frames
  // included; `why` then holds the whole message for the user.
  static std::unique_ptr<TCaptureLoad> Open(const QString& path, QWidget* window, QString& why);
  ~TCaptureLoad() override;

  // Where the frames go, in place of what `frames` holds. Each slice works
  // under `appendLock`.
  void SetTarget(netvane::FrameList& frames, std::mutex& appendLock);

  enum class Outcome { Complete, Damaged, Full, Cancelled };
  // Once finished.
  Outcome outcome() const;
  uint32_t stored() const { return stored_; }
  // For a damaged file: the message for the user.
  QString DamageText() const;

 signals:
  // Frames were listed (after each slice that added some).
  void framesStored();

 protected:
  bool Slice(std::chrono::steady_clock::time_point until) override;
  double Progress() const override;

 private:
  TCaptureLoad(QWidget* window, const QString& path);

  QString path_;
  // A capture file, indexed up to its first frame, until SetTarget takes it.
  std::unique_ptr<netvane::FrameList> staged_;
  bool capture_ = false;
  // The one frame of a frame file, stamped when it was opened.
  std::vector<uint8_t> frame_;
  netvane::CaptureStamp stamp_;
  netvane::FrameList* frames_ = nullptr;
  std::mutex* appendLock_ = nullptr;
  uint32_t stored_ = 0;
  bool damaged_ = false;
  bool full_ = false;
  std::string damage_;
};
