#include "ui/install_wizard_text.h"

#include <QPainterPath>

#include "ui/skin.h"

namespace lumo::ui {
namespace {

constexpr int kMeasureEmSize = 10;
constexpr double kLabelStretch = 1.4;
constexpr int kSurfaceWidth = 540;
constexpr int kLabelRightLimit = 490;
constexpr int kRightMargin = 50;
constexpr int kLabelHeight = 21;
constexpr int kLinkGap = 5;

}  // namespace

QSizeF MeasureText(const QString& text) {
  QFont font = interfaceFont();
  font.setPixelSize(kMeasureEmSize);
  // Outlines without hinting: the widths must not depend on the screen.
  font.setHintingPreference(QFont::PreferNoHinting);
  QPainterPath path;
  path.addText(0, 0, font, text);
  return path.boundingRect().size();
}

std::optional<FolderRow> FitFolderLabel(const QString& folder, QPoint labelTopLeft) {
  if (folder.isEmpty()) return std::nullopt;
  const int left = labelTopLeft.x();
  int width = static_cast<int>(MeasureText(folder).width() * kLabelStretch);
  if (left + width + kRightMargin > kSurfaceWidth) width = kLabelRightLimit - left;
  return FolderRow{QRect(left, labelTopLeft.y(), width, kLabelHeight),
                   QPoint(left + width + kLinkGap, labelTopLeft.y())};
}

}  // namespace lumo::ui
