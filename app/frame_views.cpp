#include "app/frame_views.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTreeWidget>

#include "decode/dumps.h"

namespace {

// Decoded texts are 8-bit; every byte maps to the Latin-1 character of the
// same code, so the dump shows control characters too.
QString FromBytes(const std::string& s) {
  return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

void SetForeground(QTextEdit* box, netvane::HighlightRange r, const QColor& colour) {
  QTextDocument* doc = box->document();
  // The last position of a document is the final paragraph separator.
  const int length = doc->characterCount() - 1;
  const int start = static_cast<int>(std::min<uint32_t>(r.start, static_cast<uint32_t>(length)));
  const int end =
      static_cast<int>(std::min<uint64_t>(uint64_t{r.start} + r.count, static_cast<uint64_t>(length)));
  if (end <= start) return;
  QTextCursor c(doc);
  c.setPosition(start);
  c.setPosition(end, QTextCursor::KeepAnchor);
  QTextCharFormat f;
  f.setForeground(colour);
  c.mergeCharFormat(f);
}

}  // namespace

TFrameViews::TFrameViews(QTextEdit* Packet, QTextEdit* PacketASCII, QTreeWidget* TV, QObject* parent)
    : QObject(parent), Packet_(Packet), PacketASCII_(PacketASCII), TV_(TV) {
  // Packet is disabled so the user cannot select or edit it; a disabled box
  // would grey its text, which must stay black with blue highlights.
  QPalette pal = Packet_->palette();
  pal.setColor(QPalette::Disabled, QPalette::Text, Qt::black);
  pal.setColor(QPalette::Disabled, QPalette::WindowText, Qt::black);
  Packet_->setPalette(pal);
  Packet_->setEnabled(false);
  Packet_->setReadOnly(true);
  Packet_->setAcceptRichText(false);
  // Colouring goes through the document; without this every click would grow
  // an undo history nobody can reach.
  Packet_->document()->setUndoRedoEnabled(false);
  PacketASCII_->setAcceptRichText(false);
  TV_->setHeaderHidden(true);
  TV_->setSelectionMode(QAbstractItemView::SingleSelection);
  TV_->viewport()->installEventFilter(this);
}

bool TFrameViews::eventFilter(QObject* watched, QEvent* event) {
  // The release comes after the press has already moved the selection, so the
  // click handler sees the node under the pointer (or none, in empty space).
  if (watched == TV_->viewport() && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    TVClick();
  }
  return QObject::eventFilter(watched, event);
}

void TFrameViews::InitialTree() {
  TV_->clear();
  for (const char* title : {"Ethernet Header", "IP Header", "TCP Header"}) {
    TV_->addTopLevelItem(new QTreeWidgetItem(QStringList{QString::fromLatin1(title)}));
  }
  shown_ = {};
  frameShown_ = false;
}

void TFrameViews::ShowFrame(std::span<const uint8_t> frame) {
  Packet_->setPlainText(FromBytes(netvane::HexDump(frame)));
  PacketASCII_->setPlainText(FromBytes(netvane::TextDump(frame)));
  // The new text carries no colour, so no range is coloured any more.
  highlight_.reset();
  shown_ = netvane::BuildProtocolTree(frame);
  frameShown_ = true;
  RebuildTree();
}

void TFrameViews::RebuildTree() {
  TV_->setUpdatesEnabled(false);
  TV_->clear();
  for (const netvane::Section& s : shown_.sections) {
    auto* node = new QTreeWidgetItem(QStringList{FromBytes(s.title)});
    QList<QTreeWidgetItem*> children;
    children.reserve(static_cast<qsizetype>(s.lines.size()));
    for (const netvane::FieldLine& l : s.lines) {
      children.append(new QTreeWidgetItem(QStringList{FromBytes(l.text)}));
    }
    node->addChildren(children);
    TV_->addTopLevelItem(node);
    node->setExpanded(true);
  }
  TV_->clearSelection();
  TV_->setCurrentItem(nullptr);
  TV_->setUpdatesEnabled(true);
}

const netvane::FieldLine* TFrameViews::LineOf(const QTreeWidgetItem* item) const {
  const QTreeWidgetItem* section = item ? item->parent() : nullptr;
  if (!section || !frameShown_) return nullptr;
  const int s = TV_->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(section));
  const int l = section->indexOfChild(const_cast<QTreeWidgetItem*>(item));
  if (s < 0 || l < 0 || static_cast<size_t>(s) >= shown_.sections.size()) return nullptr;
  const auto& lines = shown_.sections[static_cast<size_t>(s)].lines;
  if (static_cast<size_t>(l) >= lines.size()) return nullptr;
  return &lines[static_cast<size_t>(l)];
}

void TFrameViews::TVClick() {
  const QList<QTreeWidgetItem*> selected = TV_->selectedItems();
  QTreeWidgetItem* item = selected.isEmpty() ? nullptr : selected.front();
  // A section node leaves the current highlight as it is.
  if (item && !item->parent()) return;
  RemoveHighlight();
  if (const netvane::FieldLine* line = LineOf(item)) ColourRange(line->range);
}

void TFrameViews::RemoveHighlight() {
  if (!highlight_) return;
  SetForeground(Packet_, *highlight_, Qt::black);
  highlight_.reset();
}

void TFrameViews::ColourRange(netvane::HighlightRange r) {
  // One coloured range at most: a new range replaces the old one.
  RemoveHighlight();
  SetForeground(Packet_, r, Qt::blue);
  highlight_ = r;
}

QString TFrameViews::HexText() const {
  return Packet_->toPlainText();
}
