#pragma once
// The three views of the shown frame: the hex dump `Packet`, the character dump
// `PacketASCII` and the protocol tree `TV`, with the highlight that a click on a
// field line puts into the hex dump.

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "decode/protocol_tree.h"

class QTextEdit;
class QTreeWidget;
class QTreeWidgetItem;

class TFrameViews : public QObject {
  Q_OBJECT
 public:
  // The views are not owned. The constructor sets them up (a hex dump that
  // scrolls but takes no focus or input, a tree that never cuts a line short)
  // and hooks TVClick to every left click inside TV, so the window need not
  // connect anything itself.
  TFrameViews(QTextEdit* Packet, QTextEdit* PacketASCII, QTreeWidget* TV, QObject* parent = nullptr);

  // The three empty section nodes shown before the first frame.
  void InitialTree();
  // No frame shown: both dumps empty, the three empty section nodes.
  void ShowNoFrame();
  // Fills both dumps (each in one operation), then rebuilds the tree.
  void ShowFrame(std::span<const uint8_t> frame);
  // The tree's click handler: a field line colours its bytes in the hex dump.
  void TVClick();

  void RemoveHighlight();
  // Colours characters [start, start + count) of the hex dump blue (a lighter
  // blue where pure blue would not read on the box); the part of the range
  // beyond the text is ignored.
  void ColourRange(netvane::HighlightRange r);
  // The hex dump exactly as shown: 3 characters per byte, trailing blank.
  QString HexText() const;

  // The range coloured now, if any.
  std::optional<netvane::HighlightRange> Highlight() const { return highlight_; }
  // The display-filter expression for the field of a tree line, as its
  // context menu's "Filter on this value" applies it; empty when it has none.
  QString FilterExpression(const QTreeWidgetItem* item) const;

 signals:
  // "Filter on this value" was chosen on a field line.
  void filterRequested(const QString& expression);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void RebuildTree();
  // The decoded line behind a tree item; nullptr for section nodes.
  const netvane::FieldLine* LineOf(const QTreeWidgetItem* item) const;
  void ShowTreeMenu(const QPoint& at);

  QTextEdit* Packet_;
  QTextEdit* PacketASCII_;
  QTreeWidget* TV_;
  netvane::ProtocolTree shown_;
  std::vector<uint8_t> frame_;  // the bytes shown_ was built from
  bool frameShown_ = false;
  std::optional<netvane::HighlightRange> highlight_;
};
