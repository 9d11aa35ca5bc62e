#include "app/frame_views.h"

#include <algorithm>

#include <QEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPalette>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTreeWidget>

#include "app/contrast.h"
#include "app/filter_primitive.h"
#include "decode/dumps.h"

namespace {

// Decoded texts are 8-bit; every byte maps to the Latin-1 character of the
// same code, so the dump shows control characters too.
QString FromBytes(const std::string& s) {
  return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

// Characters [r.start, r.start + r.count) of the box's text, cut at its end.
QTextCursor RangeCursor(QTextEdit* box, netvane::HighlightRange r) {
  QTextDocument* doc = box->document();
  // The last position of a document is the final paragraph separator.
  const int length = doc->characterCount() - 1;
  const int start = static_cast<int>(std::min<uint32_t>(r.start, static_cast<uint32_t>(length)));
  const int end =
      static_cast<int>(std::min<uint64_t>(uint64_t{r.start} + r.count, static_cast<uint64_t>(length)));
  QTextCursor c(doc);
  c.setPosition(start);
  c.setPosition(std::max(start, end), QTextCursor::KeepAnchor);
  return c;
}

// Blue as laid out where it reads on the box's background; on a dark
// background a lighter blue that does, aimed no higher above the minimum than
// keeps it plainly blue beside the box's own (light) text.
QColor HighlightColour(const QTextEdit* box) {
  constexpr double kStillBlue = 5.5;
  return netvane::Readable(QColor(Qt::blue), box->palette().color(QPalette::Active, QPalette::Base),
                           netvane::kMinimumContrast, kStillBlue);
}

}  // namespace

TFrameViews::TFrameViews(QTextEdit* Packet, QTextEdit* PacketASCII, QTreeWidget* TV, QObject* parent)
    : QObject(parent), Packet_(Packet), PacketASCII_(PacketASCII), TV_(TV) {
  // The hex dump shows text and scrolls (wheel and scroll bar) but takes no
  // focus and offers no editing, selecting or context menu: a disabled box
  // would do that too, but it would not scroll and it would grey its text.
  Packet_->setEnabled(true);
  Packet_->setReadOnly(true);
  Packet_->setTextInteractionFlags(Qt::NoTextInteraction);
  Packet_->setFocusPolicy(Qt::NoFocus);
  Packet_->setContextMenuPolicy(Qt::NoContextMenu);
  Packet_->setAcceptRichText(false);
  // Colouring goes through the document; without this every click would grow
  // an undo history nobody can reach.
  Packet_->document()->setUndoRedoEnabled(false);
  PacketASCII_->setAcceptRichText(false);
  TV_->setHeaderHidden(true);
  TV_->setSelectionMode(QAbstractItemView::SingleSelection);
  // Every field line is shown whole: the one column is as wide as its widest
  // line, and the tree scrolls sideways when that is wider than the view.
  TV_->setTextElideMode(Qt::ElideNone);
  TV_->header()->setStretchLastSection(false);
  TV_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  TV_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  TV_->viewport()->installEventFilter(this);
  TV_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(TV_, &QWidget::customContextMenuRequested, this, &TFrameViews::ShowTreeMenu);
}

QString TFrameViews::FilterExpression(const QTreeWidgetItem* item) const {
  const QTreeWidgetItem* section = item ? item->parent() : nullptr;
  if (LineOf(item) == nullptr) return {};
  const auto s = static_cast<size_t>(TV_->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(section)));
  const auto l = static_cast<size_t>(section->indexOfChild(const_cast<QTreeWidgetItem*>(item)));
  return QString::fromStdString(netvane::FilterPrimitive(shown_.sections[s], l, frame_));
}

void TFrameViews::ShowTreeMenu(const QPoint& at) {
  const QString expression = FilterExpression(TV_->itemAt(at));
  if (expression.isEmpty()) return;
  QMenu menu;
  QAction* filter = menu.addAction(QStringLiteral("Filter on this value"));
  filter->setToolTip(expression);
  if (menu.exec(TV_->viewport()->mapToGlobal(at)) == filter) emit filterRequested(expression);
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
  using netvane::SectionKind;
  for (const SectionKind kind : {SectionKind::Ethernet, SectionKind::Ip, SectionKind::Tcp}) {
    const std::string_view title = netvane::SectionTitle(kind);
    TV_->addTopLevelItem(new QTreeWidgetItem(
        QStringList{QString::fromLatin1(title.data(), static_cast<qsizetype>(title.size()))}));
  }
  shown_ = {};
  frame_.clear();
  frameShown_ = false;
}

void TFrameViews::ShowNoFrame() {
  Packet_->clear();
  PacketASCII_->clear();
  highlight_.reset();
  InitialTree();
}

void TFrameViews::ShowFrame(std::span<const uint8_t> frame) {
  Packet_->setPlainText(FromBytes(netvane::HexDump(frame)));
  PacketASCII_->setPlainText(FromBytes(netvane::TextDump(frame)));
  // The new text carries no colour, so no range is coloured any more.
  highlight_.reset();
  shown_ = netvane::BuildProtocolTree(frame);
  frame_.assign(frame.begin(), frame.end());
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
  // Back to no colour of its own: the box's text colour.
  RangeCursor(Packet_, *highlight_).setCharFormat(QTextCharFormat());
  highlight_.reset();
}

void TFrameViews::ColourRange(netvane::HighlightRange r) {
  // One coloured range at most: a new range replaces the old one.
  RemoveHighlight();
  QTextCursor c = RangeCursor(Packet_, r);
  if (c.hasSelection()) {
    QTextCharFormat f;
    f.setForeground(HighlightColour(Packet_));
    c.mergeCharFormat(f);
  }
  highlight_ = r;
}

QString TFrameViews::HexText() const {
  return Packet_->toPlainText();
}
