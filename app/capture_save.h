#pragma once
// Saving the listed frames as a capture file: pcap, written with libpcap's
// writer, each frame with its time stamp and wire length. The file is written
// under a temporary name in the same directory and renamed into place only
// when every byte reached it, so a failed or cancelled save leaves nothing
// under the chosen name (an older file of that name stays as it was).

#include <QSaveFile>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/file_job.h"
#include "pcapfile/pcap_writer.h"

namespace netvane {
class FrameFilter;
class FrameList;
}  // namespace netvane

class TCaptureSave : public TFileJob {
  Q_OBJECT
 public:
  // Prepares to write frames 1 to `count` of `frames` to `path`; with
  // `shown`, only those that display filter lets through. Null when the file
  // cannot be started; `why` then holds the reason.
  static std::unique_ptr<TCaptureSave> Open(const QString& path, const netvane::FrameList& frames,
                                            uint32_t count, QWidget* window, QString& why,
                                            std::shared_ptr<const netvane::FrameFilter> shown = nullptr);
  ~TCaptureSave() override;

  // Once finished: saved under the chosen name.
  bool saved() const { return saved_; }
  // How many frames it writes: frames 1 to count().
  uint32_t count() const { return count_; }
  // Only the frames a display filter shows are written.
  bool filtered() const { return shown_ != nullptr; }
  // Once finished without saving (and not cancelled): the message for the user.
  QString FailureText() const;

 protected:
  bool Slice(std::chrono::steady_clock::time_point until) override;
  double Progress() const override;
  void Cancelled() override;

 private:
  TCaptureSave(QWidget* window, const QString& path, const netvane::FrameList& frames, uint32_t count);
  // Closes the file and renames it into place; false with reason_ set.
  bool Commit();
  // Closes and drops the temporary file.
  void Discard();
  // The writer's error without the file's name.
  QString WriterReason() const;

  QString path_;
  QSaveFile file_;
  const netvane::FrameList& frames_;
  uint32_t count_;
  std::shared_ptr<const netvane::FrameFilter> shown_;
  uint32_t written_ = 0;  // the last frame written or passed over
  netvane::PcapWriter writer_;
  std::vector<uint8_t> scratch_;
  bool saved_ = false;
  QString reason_;
};
