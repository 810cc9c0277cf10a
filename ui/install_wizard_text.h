// How the install wizard measures and fits the install folder: the outline
// of the interface font at an em size of 10 units, independent of the
// screen, so the folder row is laid out the same on every display.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSizeF>
#include <QString>
#include <optional>

namespace lumo::ui {

// Width and height of the bounding box of `text`'s glyph outlines.
QSizeF MeasureText(const QString& text);

// Where the folder label (1009) and the "更改" link (1008) go for `folder`.
struct FolderRow {
  QRect label;
  QPoint link;
};

// The label keeps its top left corner and takes 1.4 × the measured width,
// but never reaches past x = 490; the link follows 5 pixels after it.
// Nothing for an empty folder.
std::optional<FolderRow> FitFolderLabel(const QString& folder, QPoint labelTopLeft);


}  // namespace lumo::ui
