#include "app/packet_grid.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>

#include "app/contrast.h"
#include "app/fonts.h"

namespace {

constexpr int kColumnWidths[] = {54, 107, 107, 94, 92, 104};
constexpr int kRowHeight = 18;

}  // namespace

TPacketGrid::TPacketGrid(QAbstractItemModel* model, const QPalette& system, QWidget* parent)
    : QTableView(parent) {
  // Semi-condensed, so that a hardware address (17 characters) and a dotted
  // address of 15 fit their columns in the substitute face.
  QFont cells = netvane::WindowFont(false);
  cells.setStretch(QFont::SemiCondensed);
  setFont(cells);
  setModel(model);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setSortingEnabled(false);
  // Every row has the same fixed height: the view never measures a row, which
  // keeps scrolling and appending cheap with a million rows.
  QHeaderView* rows = verticalHeader();
  rows->hide();
  rows->setMinimumSectionSize(1);
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setDefaultSectionSize(kRowHeight);
  SetUpHeader(system);
  const QColor ground = netvane::TooltipBackgroundColour(system);
  netvane::SetColours(this, {QPalette::Base, QPalette::AlternateBase}, ground, {QPalette::Text},
                      netvane::Readable(system.color(QPalette::Text), ground));
}

void TPacketGrid::SetUpHeader(const QPalette& system) {
  QHeaderView* header = horizontalHeader();
  header->setMinimumSectionSize(1);
  header->setSectionResizeMode(QHeaderView::Fixed);
  header->setStretchLastSection(false);
  header->setHighlightSections(false);
  header->setSectionsClickable(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setFixedHeight(kRowHeight);
  // Condensed, so that "Packet Nr" fits its 54-pixel column with the margins.
  QFont headerFont = netvane::WindowFont(false);
  headerFont.setStretch(QFont::Condensed);
  header->setFont(headerFont);
  for (int c = 0; c < 6; ++c) header->resizeSection(c, kColumnWidths[c]);
  const QColor caption = netvane::GradientActiveCaptionColour(system);
  netvane::SetColours(header, {QPalette::Button, QPalette::Window}, caption,
                      {QPalette::ButtonText, QPalette::WindowText},
                      netvane::Readable(system.color(QPalette::ButtonText), caption));
  header->setAutoFillBackground(true);
}

void TPacketGrid::mousePressEvent(QMouseEvent* event) {
  const QModelIndex before = currentIndex();
  QTableView::mousePressEvent(event);
  const QModelIndex at = indexAt(event->position().toPoint());
  // A press on another cell has already been told through currentChanged.
  if (at.isValid() && at == before && at == currentIndex()) emit currentCellPressed(at);
}

void TPacketGrid::focusInEvent(QFocusEvent* event) {
  // The item view would make the first cell current here; the scroll area's
  // handling and a repaint of the focus frame are all the grid needs.
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void TPacketGrid::contextMenuEvent(QContextMenuEvent* event) {
  if (actions().isEmpty()) return;
  QMenu::exec(actions(), event->globalPos(), nullptr, this);
}
