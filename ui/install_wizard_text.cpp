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

QString ShortenForDisplay(const QString& text, double limit) {
  for (qsizetype n = 1; n <= text.size(); ++n) {
    // Never cut a character in two halves of a surrogate pair.
    if (n < text.size() && text[n - 1].isHighSurrogate()) continue;
    if (MeasureText(text.left(n)).width() > limit) return text.left(n) + QStringLiteral("...");
  }
  return text;
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
