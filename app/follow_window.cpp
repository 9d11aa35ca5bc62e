#include "app/follow_window.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/Form1.h"
#include "app/contrast.h"
#include "app/conversation_text.h"
#include "app/fonts.h"
#include "app/packet_list_model.h"
#include "app/secondary_window.h"
#include "app/stream_tools.h"

using netvane::StreamSide;

namespace {

enum ViewKind { kAscii, kHexDump, kRaw };
enum SidesKind { kBoth, kClientOnly, kServerOnly };
constexpr std::size_t kCopyBlock = 1 << 20;

QString EndpointText(const netvane::ConversationEndpoint& e) {
  const QString address = netvane::AddressText(e);
  return (e.addressLength == 16 ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2"))
      .arg(address)
      .arg(e.port);
}

bool Shows(int sides, StreamSide side) {
  return sides == kBoth || (sides == kClientOnly) == (side == StreamSide::Client);
}

void AppendAscii(QString& out, std::span<const uint8_t> bytes) {
  out.reserve(out.size() + static_cast<qsizetype>(bytes.size()));
  for (const uint8_t b : bytes) {
    if (b == '\r') continue;  // a line sent with CR LF ends as any other
    out += (b >= 0x20 && b < 0x7F) || b == '\n' || b == '\t' ? QChar(b) : QChar('.');
  }
}

void AppendHexDump(QString& out, uint64_t offset, std::span<const uint8_t> bytes) {
  char line[100];
  for (std::size_t at = 0; at < bytes.size(); at += 16) {
    const std::size_t n = std::min<std::size_t>(16, bytes.size() - at);
    int p = std::snprintf(line, sizeof line, "%08llX  ", static_cast<unsigned long long>(offset + at));
    for (std::size_t k = 0; k < 16; ++k)
      p += k < n ? std::snprintf(line + p, sizeof line - p, "%02X ", bytes[at + k])
                 : std::snprintf(line + p, sizeof line - p, "   ");
    line[p++] = ' ';
    for (std::size_t k = 0; k < n; ++k)
      line[p++] = bytes[at + k] >= 0x20 && bytes[at + k] < 0x7F ? char(bytes[at + k]) : '.';
    line[p++] = '\n';
    out += QLatin1StringView(line, p);
  }
}

void AppendRaw(QString& out, std::span<const uint8_t> bytes) {
  static const char kDigits[] = "0123456789abcdef";
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    out += QChar(kDigits[bytes[at] >> 4]);
    out += QChar(kDigits[bytes[at] & 15]);
    if (at % 32 == 31 || at + 1 == bytes.size()) out += QChar('\n');
  }
}

bool WriteAll(int fd, const uint8_t* data, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

TFollowWindow::TFollowWindow(TForm1* window, Target target) : QWidget(window, Qt::Window), FWindow(window) {
  setObjectName(QStringLiteral("FollowWindow"));
  setAttribute(Qt::WA_DeleteOnClose);
  netvane::SetUpSecondaryWindow(this, QStringLiteral("Follow TCP stream"));
  resize(760, 520);
  auto* layout = new QVBoxLayout(this);
  Text = new QPlainTextEdit(this);
  Text->setObjectName(QStringLiteral("FollowText"));
  Text->setReadOnly(true);
  Text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  QFont fixed(QString::fromLatin1(netvane::kDumpFamily));
  fixed.setStyleHint(QFont::Monospace);
  fixed.setPixelSize(netvane::kFontPixels + 1);
  Text->setFont(fixed);
  layout->addWidget(Text, 1);
  Status = new QLabel(this);
  Status->setObjectName(QStringLiteral("FollowStatus"));
  layout->addWidget(Status);
  auto* row = new QHBoxLayout;
  View = new QComboBox(this);
  View->setObjectName(QStringLiteral("FollowView"));
  View->addItems({QStringLiteral("ASCII"), QStringLiteral("Hex dump"), QStringLiteral("Raw")});
  Sides = new QComboBox(this);
  Sides->setObjectName(QStringLiteral("FollowSides"));
  Sides->addItems({QStringLiteral("Both sides"), QStringLiteral("Client"), QStringLiteral("Server")});
  Previous = new QPushButton(QStringLiteral("Previous"), this);
  Next = new QPushButton(QStringLiteral("Next"), this);
  SaveAs = new QPushButton(QStringLiteral("Save as..."), this);
  SaveAs->setObjectName(QStringLiteral("FollowSaveAs"));
  SaveAs->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  FilterOnStream = new QPushButton(QStringLiteral("Filter on this stream"), this);
  FilterOnStream->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
  auto* viewLabel = new QLabel(QStringLiteral("&Show"), this);
  viewLabel->setBuddy(View);
  auto* sidesLabel = new QLabel(QStringLiteral("S&ides"), this);
  sidesLabel->setBuddy(Sides);
  row->addWidget(viewLabel);
  row->addWidget(View);
  row->addWidget(sidesLabel);
  row->addWidget(Sides);
  row->addWidget(Previous);
  row->addWidget(Next);
  row->addStretch(1);
  row->addWidget(FilterOnStream);
  row->addWidget(SaveAs);
  layout->addLayout(row);
  connect(View, &QComboBox::currentIndexChanged, this, [this] { ShowPage(); });
  connect(Sides, &QComboBox::currentIndexChanged, this, [this] { ShowPage(); });
  connect(Previous, &QPushButton::clicked, this, [this] {
    if (FPage > 0) --FPage;
    ShowPage();
  });
  connect(Next, &QPushButton::clicked, this, [this] {
    if ((FPage + 1) * kPageBytes < FState.readable) ++FPage;
    ShowPage();
  });
  connect(SaveAs, &QPushButton::clicked, this, &TFollowWindow::SaveAsClick);
  connect(FilterOnStream, &QPushButton::clicked, this, &TFollowWindow::FilterOnStreamClick);
  connect(FWindow->packetModel(), &QAbstractItemModel::modelAboutToBeReset, this,
          &TFollowWindow::ListAboutToChange);

  FJob = std::make_unique<TFollowJob>(FWindow->frames(), target.stream, target.byFrame,
                                      std::move(target.filter));
  connect(FJob.get(), &TFollowJob::progressed, this, &TFollowWindow::Progressed);
  Progressed();
}

TFollowWindow::~TFollowWindow() = default;

void TFollowWindow::ListAboutToChange() {
  // The listed frames may go: the walk ends where it is; its bytes stay.
  if (FState.done) return;
  FJob->Stop();
  FStopped = true;
  Progressed();
}

void TFollowWindow::Progressed() {
  FState = FJob->State();
  if (FState.found) {
    setWindowTitle(QStringLiteral("Follow TCP stream %1 - %2 and %3")
                       .arg(FState.stream)
                       .arg(EndpointText(FState.client), EndpointText(FState.server)));
  }
  // The page shown grows until it is full or the stream ends.
  const uint64_t pageEnd = std::min((FPage + 1) * kPageBytes, FState.readable);
  if (pageEnd > FShownUpTo || (FState.done && FShownUpTo == 0) || FState.done) {
    if (pageEnd != FShownUpTo || FState.done) ShowPage();
  }
  ShowStatus();
}

void TFollowWindow::ShowStatus() {
  const bool any = FState.found;
  SaveAs->setEnabled(FState.done && any && FState.error.empty());
  FilterOnStream->setEnabled(any);
  Previous->setEnabled(FPage > 0);
  Next->setEnabled((FPage + 1) * kPageBytes < FState.readable);
  QString text;
  if (!FState.error.empty()) {
    text = QString::fromLocal8Bit(FState.error.c_str());
  } else if (FState.done && !any) {
    text = QStringLiteral("No such TCP stream among the listed frames.");
  } else if (any) {
    text = QStringLiteral("Client %1: %2 bytes, %3 missing. Server %4: %5 bytes, %6 missing.")
               .arg(EndpointText(FState.client))
               .arg(FState.bytes[0])
               .arg(FState.missing[0])
               .arg(EndpointText(FState.server))
               .arg(FState.bytes[1])
               .arg(FState.missing[1]);
    if (FState.readable > kPageBytes) {
      const uint64_t from = FPage * kPageBytes;
      text += QStringLiteral(" Showing bytes %1 to %2 of %3.")
                  .arg(from)
                  .arg(std::min(from + kPageBytes, FState.readable))
                  .arg(FState.readable);
    }
  }
  if (!FState.done) text += QStringLiteral(" Following...");
  if (FStopped) text += QStringLiteral(" Stopped: the listed frames changed.");
  Status->setText(text.trimmed());
}

void TFollowWindow::ShowPage() {
  const uint64_t from = FPage * kPageBytes;
  const uint64_t to = std::min(from + kPageBytes, FState.readable);
  FShownUpTo = to;
  const QColor base = Text->palette().color(QPalette::Active, QPalette::Base);
  QTextCharFormat formats[2];
  formats[0].setForeground(netvane::Readable(QColor(170, 0, 0), base));
  formats[1].setForeground(netvane::Readable(QColor(0, 0, 190), base));
  const int view = View->currentIndex();
  const int sides = Sides->currentIndex();
  Text->setUpdatesEnabled(false);
  Text->clear();
  QTextCursor cursor(Text->document());
  std::vector<uint8_t> bytes;
  bool lineOpen = false;  // the text so far does not end with a new line
  for (const TStreamTurn& t : FJob->TurnsIn(from, to)) {
    if (!Shows(sides, t.side)) continue;
    QString piece;
    if (lineOpen && (t.missing || view != kAscii)) piece += QChar('\n');
    if (t.missing) {
      piece += QStringLiteral("[%1 bytes missing]\n").arg(t.length);
    } else {
      const uint64_t start = std::max(t.offset, from);
      const uint64_t end = std::min(t.offset + t.length, to);
      if (end <= start || !FJob->Read(start, static_cast<std::size_t>(end - start), bytes)) continue;
      if (view == kAscii)
        AppendAscii(piece, bytes);
      else if (view == kHexDump)
        AppendHexDump(piece, start, bytes);
      else
        AppendRaw(piece, bytes);
    }
    if (piece.isEmpty()) continue;
    lineOpen = !piece.endsWith(QChar('\n'));
    cursor.insertText(piece, formats[static_cast<int>(t.side)]);
  }
  Text->setUpdatesEnabled(true);
  Text->moveCursor(QTextCursor::Start);
  ShowStatus();
}

void TFollowWindow::SaveAsClick() {
  const QString what = Sides->currentIndex() == kBoth
                           ? QStringLiteral("both sides of the stream")
                           : QStringLiteral("the %1's bytes").arg(Sides->currentText().toLower());
  QFileDialog dialog(this, QStringLiteral("Save %1 as").arg(what));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  QString why;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool saved = SaveTo(dialog.selectedFiles().constFirst(), why);
  QApplication::restoreOverrideCursor();
  if (!saved) QMessageBox::warning(this, windowTitle(), why);
}

bool TFollowWindow::SaveTo(const QString& path, QString& why) {
  if (!FState.done || !FState.error.empty()) {
    why = QStringLiteral("The stream is not followed to its end yet.");
    return false;
  }
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    why = QStringLiteral("Cannot write %1: %2.").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
  }
  const int sides = Sides->currentIndex();
  std::vector<uint8_t> block;
  bool ok = true;
  // Copied in blocks: the stream may be larger than memory.
  for (const TStreamTurn& t : FJob->turns()) {
    if (t.missing || !Shows(sides, t.side)) continue;
    for (uint64_t at = 0; ok && at < t.length; at += kCopyBlock) {
      const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(kCopyBlock, t.length - at));
      ok = FJob->Read(t.offset + at, n, block) && WriteAll(fd, block.data(), n);
    }
    if (!ok) break;
  }
  if (ok) ok = ::fsync(fd) == 0 || errno == EINVAL;
  const int error = errno;
  if (::close(fd) != 0 && ok) ok = false;
  if (!ok)
    why = QStringLiteral("Cannot write %1: %2.").arg(path, QString::fromLocal8Bit(std::strerror(error)));
  return ok;
}

void TFollowWindow::FilterOnStreamClick() {
  if (!FState.found) return;
  FWindow->streamTools()->ApplyDisplayFilter(
      netvane::ConversationExpression(netvane::ConversationKind::Tcp, FState.client, FState.server));
}
