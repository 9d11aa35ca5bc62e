#pragma once
// "Follow TCP stream": what one TCP connection carried, both sides' bytes in
// the order of their sequence numbers, as the turns of the two sides, each
// side in its own colour (readable on the palette's base, light or dark).
// A retransmitted or overlapping byte shows once; bytes never captured show
// as "[N bytes missing]".
//
// Views (a combo box): ASCII (printable characters, lines as sent, others as
// dots), hex dump (offset, 16 bytes, their characters; each turn on lines of
// its own) and raw (the bytes as hex digits, 32 to a line). A second combo box
// picks both sides or one; it applies to the view and to "Save as...", which
// writes the chosen bytes raw (missing bytes are not invented: they are left
// out), copied in blocks from the stream's file.
//
// Memory stays bounded: the stream is reassembled on a thread into a file
// (follow_job.h), and the view shows one page of it at a time, kPageBytes of
// the stream, with Previous and Next. The first page shows as soon as its
// bytes are there, while the walk goes on. The window follows the frames
// listed when it opened; a clear of the list stops it where it is.
//
// "Filter on this stream" applies the stream's pcap-filter expression as the
// display filter.

#include <QWidget>

#include <cstdint>
#include <memory>

#include "app/follow_job.h"

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class TForm1;

class TFollowWindow : public QWidget {
  Q_OBJECT
 public:
  // Stream `stream` among the frames `filter` takes, or (byFrame not 0) the
  // stream of frame `byFrame`.
  struct Target {
    uint32_t stream = 0;
    uint32_t byFrame = 0;
    std::shared_ptr<const netvane::FrameFilter> filter;
  };
  TFollowWindow(TForm1* window, Target target);
  ~TFollowWindow() override;

  static constexpr uint64_t kPageBytes = 256 * 1024;

  QPlainTextEdit* Text = nullptr;
  QComboBox* View = nullptr;   // ASCII, Hex dump, Raw
  QComboBox* Sides = nullptr;  // Both sides, client's, server's
  QPushButton* Previous = nullptr;
  QPushButton* Next = nullptr;
  QPushButton* SaveAs = nullptr;
  QPushButton* FilterOnStream = nullptr;
  QLabel* Status = nullptr;

  void SaveAsClick();
  // Writes the bytes the side box picks to `path`; false with the reason.
  bool SaveTo(const QString& path, QString& why);
  void FilterOnStreamClick();

  // --- for tests -----------------------------------------------------------------------
  bool done() const { return FState.done; }
  const TFollowState& state() const { return FState; }
  uint64_t page() const { return FPage; }

 private:
  void Progressed();
  void ShowPage();
  void ShowStatus();
  void ListAboutToChange();

  TForm1* FWindow;
  std::unique_ptr<TFollowJob> FJob;
  TFollowState FState;
  uint64_t FPage = 0;
  uint64_t FShownUpTo = 0;  // the page shown held the file's bytes up to here
  bool FStopped = false;    // the list changed before the walk ended
};
