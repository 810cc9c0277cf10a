#include "ui/controls.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <utility>

#include "script/run_environment.h"
#include "ui/accessibility.h"
#include "ui/skin.h"

namespace lumo::ui {
namespace {

constexpr int kCapWidth = 3;
constexpr int kBoxSize = 14;  // the check-box images are 14 × 14; the caption starts after them
constexpr qreal kRingWidth = 2;
constexpr qreal kRingRadius = 4;

// The interface font carries its own leading above the glyphs; two pixels
// up lines a caption up with its box.
int captionTop() { return runEnvironment().interfaceFont == "微软雅黑" ? -2 : 0; }

// Where the image is solid: the face of a button without the transparent
// room its shadow takes.
QRect solidBounds(const QImage& image) {
  QRect bounds;
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if (qAlpha(row[x]) >= 128) bounds |= QRect(x, y, 1, 1);
    }
  }
  return bounds;
}

}  // namespace

void drawThreeSlices(QPainter& painter, const QImage& image, const QRect& target) {
  const int cap = kCapWidth * qRound(image.devicePixelRatio());
  if (image.isNull() || image.width() < 2 * cap) return;
  const int w = image.width();
  const int h = image.height();
  const int l = target.left();
  const int t = target.top();
  const int width = target.width();
  const int height = target.height();
  painter.drawImage(QRect(l, t, kCapWidth, height), image, QRect(0, 0, cap, h));
  painter.drawImage(QRect(l + kCapWidth, t, width - 2 * kCapWidth, height), image, QRect(cap, 0, w - 2 * cap, h));
  painter.drawImage(QRect(l + width - kCapWidth, t, kCapWidth, height), image, QRect(w - cap, 0, cap, h));
}

bool showsFocusRing(const QWidget& control) {
  return control.hasFocus() && control.window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

void drawFocusRing(QPainter& painter, const QRectF& around) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor::fromRgba(kFocusRingColour), kRingWidth));
  painter.setBrush(Qt::NoBrush);
  const qreal half = kRingWidth / 2;
  painter.drawRoundedRect(around.adjusted(half, half, -half, -half), kRingRadius, kRingRadius);
  painter.restore();
}

// ---------------------------------------------------------------------------
// CPngButton

CPngButton::CPngButton(int id, QSize size, QWidget* parent) : QAbstractButton(parent), id_(id) {
  installAccessibleControls();
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::TabFocus);
  setFont(interfaceFont());
  resize(size);
  // Loaded with every button though nothing draws it; kept for skins that
  // still carry it.
  QImage spare;
  LoadPngResource(skin::kButtonSpare, spare);
}

bool CPngButton::loadImage(Slot slot, int imageId) {
  bool found = images_[slot].load(imageId);
  update();
  return found;
}

void CPngButton::setImage(Slot slot, const QImage& image) {
  images_[slot].set(image);
  update();
}

const QImage& CPngButton::art(Slot slot) const { return images_[slot].at(devicePixelRatioF()); }

void CPngButton::setCaption(const QString& caption) {
  caption_ = caption;
  if (!caption_.isEmpty()) {
    // Room for the caption's whole line: Latin descenders reach below the
    // box image.
    const QFontMetrics metrics(font());
    resize(width(), std::max(height(), captionTop() + metrics.ascent() + metrics.descent()));
  }
  update();
}

bool CPngButton::hasCheckedImages() const {
  return !images_[Checked].isNull() && !images_[CheckedHover].isNull() && !images_[CheckedDisabled].isNull();
}

bool CPngButton::setCheckedFlag(bool checked) {
  if (checked && !hasCheckedImages()) return checked_ == checked;
  const bool changed = checked_ != checked;
  checked_ = checked;
  update();
  if (changed) notifyCheckedChanged(*this);
  return true;
}

void CPngButton::setAlertWhenUnchecked(bool alert) {
  alertWhenUnchecked_ = alert;
  update();
}

CPngButton::Slot CPngButton::chosenSlot() const {
  if (!isEnabled()) return checked_ ? CheckedDisabled : Disabled;
  if (hovering_) return checked_ ? CheckedHover : Hover;
  return checked_ ? Checked : Normal;
}

void CPngButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const Slot slot = chosenSlot();
  const QImage& chosen = art(slot);
  const bool ring = showsFocusRing(*this);
  if (!isCheckBox()) {
    if (!chosen.isNull()) painter.drawImage(rect(), chosen);
    if (ring) {
      // Around the button's face, not around the room of its shadow.
      const QImage& plain = images_[slot].x1;
      QRectF face = plain.isNull() ? QRectF(rect()) : QRectF(solidBounds(plain));
      if (!plain.isNull() && plain.size() != size()) {
        face = QRectF(face.x() * width() / plain.width(), face.y() * height() / plain.height(),
                      face.width() * width() / plain.width(), face.height() * height() / plain.height());
      }
      drawFocusRing(painter, face.adjusted(-1, -1, 1, 1) & QRectF(rect()));
    }
    return;
  }
  if (!chosen.isNull()) painter.drawImage(QPoint(0, 0), chosen);
  const int y = captionTop();
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setFont(font());
  painter.setPen(QColor::fromRgba(alertWhenUnchecked_ && !checked_ ? kAlertColour : kCaptionColour));
  painter.drawText(QRect(kBoxSize, y, width() - kBoxSize, height() - y), Qt::AlignLeft | Qt::AlignTop, caption_);
  // Around the tick box itself: the caption keeps its line clear.
  if (ring) drawFocusRing(painter, QRectF(0, 0, kBoxSize, kBoxSize));
}

void CPngButton::enterEvent(QEnterEvent* event) {
  hovering_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void CPngButton::leaveEvent(QEvent* event) {
  hovering_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void CPngButton::mouseDoubleClickEvent(QMouseEvent* event) {
  // Two quick clicks are two clicks: the second press is a press.
  mousePressEvent(event);
}

// ---------------------------------------------------------------------------
// CColorLabel

CColorLabel::CColorLabel(QWidget* parent, const QString& text) : QLabel(text, parent) {
  installAccessibleControls();
  setFont(interfaceFont());
  setAttribute(Qt::WA_NoSystemBackground);
  setAutoFillBackground(false);
}

void CColorLabel::setLink(bool link) {
  link_ = link;
  setMouseTracking(link);
  setFocusPolicy(link ? Qt::TabFocus : Qt::NoFocus);
  if (!link) hovering_ = false;
  update();
}

void CColorLabel::setActive(bool active) {
  active_ = active;
  update();
}

void CColorLabel::setElidedText(const QString& text) {
  setText(QFontMetrics(font()).elidedText(text, Qt::ElideRight, contentsRect().width()));
}

void CColorLabel::setUnderline() {
  QFont underlined = font();
  underlined.setUnderline(true);
  setFont(underlined);
}

QColor CColorLabel::textColour() const {
  if (!active_) return QColor::fromRgba(kInactiveColour);
  return QColor::fromRgba(hovering_ ? kHoverColour : kNormalColour);
}

void CColorLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setFont(font());
  painter.setPen(textColour());
  int flags = static_cast<int>(alignment());
  if (wordWrap()) flags |= Qt::TextWordWrap;
  painter.drawText(contentsRect(), flags, text());
  if (showsFocusRing(*this)) {
    const QRect ink = painter.fontMetrics().boundingRect(contentsRect(), flags, text());
    drawFocusRing(painter, QRectF(ink.adjusted(-3, -1, 3, 1)) & QRectF(rect()));
  }
}

void CColorLabel::enterEvent(QEnterEvent* event) {
  // The hover colour applies from the first movement over a link.
  if (link_) {
    hovering_ = true;
    update();
  }
  QLabel::enterEvent(event);
}

void CColorLabel::leaveEvent(QEvent* event) {
  if (hovering_) {
    hovering_ = false;
    update();
  }
  QLabel::leaveEvent(event);
}

void CColorLabel::mouseMoveEvent(QMouseEvent* event) {
  if (link_ && !hovering_) {
    hovering_ = true;
    update();
  }
  QLabel::mouseMoveEvent(event);
}

void CColorLabel::mousePressEvent(QMouseEvent* event) {
  // A link takes its presses; a plain label lets them through to the
  // dialog, so pressing on its text moves the window like the surface.
  if (link_) {
    event->accept();
    return;
  }
  QLabel::mousePressEvent(event);
}

void CColorLabel::mouseReleaseEvent(QMouseEvent* event) {
  // A double click opens a link once: its second release is no click.
  const bool second = std::exchange(swallowRelease_, false);
  if (link_ && !second && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
  QLabel::mouseReleaseEvent(event);
}

void CColorLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  if (link_ && event->button() == Qt::LeftButton) {
    swallowRelease_ = true;
    event->accept();
    return;
  }
  QLabel::mouseDoubleClickEvent(event);
}

void CColorLabel::keyPressEvent(QKeyEvent* event) {
  // Return on a link opens it; every other key is the window's.
  if (link_ && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !event->isAutoRepeat()) {
    event->accept();
    emit clicked();
    return;
  }
  event->ignore();
}

// ---------------------------------------------------------------------------
// CLumoProgress

CLumoProgress::CLumoProgress(QWidget* parent) : QWidget(parent) {
  installAccessibleControls();
  setAttribute(Qt::WA_NoSystemBackground);
  fill_.load(skin::kProgressFill);
}

void CLumoProgress::setMaximum(int maximum) {
  maximum_ = maximum;
  update();
}

void CLumoProgress::setPosition(int position) {
  const bool changed = position_ != position;
  position_ = position;
  update();
  if (changed) notifyValueChanged(*this, position);
}

void CLumoProgress::setFillImage(const QImage& image) {
  fill_.set(image);
  update();
}

int CLumoProgress::fillWidth() const {
  if (maximum_ == 0 || position_ == 0) return 0;
  return static_cast<int>(static_cast<double>(position_) / maximum_ * (width() - 2 * kCapWidth));
}

void CLumoProgress::paintEvent(QPaintEvent*) {
  if (maximum_ == 0 || position_ == 0 || fill_.isNull()) return;
  QPainter painter(this);
  drawThreeSlices(painter, fill_.at(devicePixelRatioF()), QRect(0, 0, fillWidth() + 2 * kCapWidth, height()));
}

}  // namespace lumo::ui
