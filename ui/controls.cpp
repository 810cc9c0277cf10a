#include "ui/controls.h"

#include <QMouseEvent>
#include <QPainter>

#include "script/run_environment.h"
#include "ui/skin.h"

namespace lumo::ui {
namespace {

constexpr int kCapWidth = 3;
constexpr int kBoxSize = 14;  // the check-box images are 14 × 14; the caption starts after them

}  // namespace

void drawThreeSlices(QPainter& painter, const QImage& image, const QRect& target) {
  if (image.isNull() || image.width() < 2 * kCapWidth) return;
  const int w = image.width();
  const int h = image.height();
  const int l = target.left();
  const int t = target.top();
  const int width = target.width();
  const int height = target.height();
  painter.drawImage(QRect(l, t, kCapWidth, height), image, QRect(0, 0, kCapWidth, h));
  painter.drawImage(QRect(l + kCapWidth, t, width - 2 * kCapWidth, height), image,
                    QRect(kCapWidth, 0, w - 2 * kCapWidth, h));
  painter.drawImage(QRect(l + width - kCapWidth, t, kCapWidth, height), image, QRect(w - kCapWidth, 0, kCapWidth, h));
}

// ---------------------------------------------------------------------------
// CPngButton

CPngButton::CPngButton(int id, QSize size, QWidget* parent) : QAbstractButton(parent), id_(id) {
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  setFont(interfaceFont());
  resize(size);
  // Loaded with every button though nothing draws it; kept for skins that
  // still carry it.
  QImage spare;
  LoadPngResource(skin::kButtonSpare, spare);
}

bool CPngButton::loadImage(Slot slot, int imageId) {
  bool found = LoadPngResource(imageId, images_[slot]);
  update();
  return found;
}

void CPngButton::setImage(Slot slot, const QImage& image) {
  images_[slot] = image;
  update();
}

void CPngButton::setCaption(const QString& caption) {
  caption_ = caption;
  update();
}

bool CPngButton::hasCheckedImages() const {
  return !images_[Checked].isNull() && !images_[CheckedHover].isNull() && !images_[CheckedDisabled].isNull();
}

bool CPngButton::setCheckedFlag(bool checked) {
  if (checked && !hasCheckedImages()) return checked_ == checked;
  checked_ = checked;
  update();
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
  const QImage& chosen = images_[chosenSlot()];
  if (!isCheckBox()) {
    if (!chosen.isNull()) painter.drawImage(rect(), chosen);
    return;
  }
  if (!chosen.isNull()) painter.drawImage(QPoint(0, 0), chosen);
  // The interface font carries its own leading above the glyphs; two
  // pixels up lines its text up with the box.
  const int y = runEnvironment().interfaceFont == "微软雅黑" ? -2 : 0;
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setFont(font());
  painter.setPen(QColor::fromRgba(alertWhenUnchecked_ && !checked_ ? kAlertColour : kCaptionColour));
  painter.drawText(QRect(kBoxSize, y, width() - kBoxSize, height() - y), Qt::AlignLeft | Qt::AlignTop, caption_);
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
  setFont(interfaceFont());
  setAttribute(Qt::WA_NoSystemBackground);
  setAutoFillBackground(false);
}

void CColorLabel::setLink(bool link) {
  link_ = link;
  setMouseTracking(link);
  if (!link) hovering_ = false;
  update();
}

void CColorLabel::setActive(bool active) {
  active_ = active;
  update();
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
  if (link_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
  QLabel::mouseReleaseEvent(event);
}

// ---------------------------------------------------------------------------
// CLumoProgress

CLumoProgress::CLumoProgress(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_NoSystemBackground);
  LoadPngResource(skin::kProgressFill, fill_);
}

void CLumoProgress::setMaximum(int maximum) {
  maximum_ = maximum;
  update();
}

void CLumoProgress::setPosition(int position) {
  position_ = position;
  update();
}

void CLumoProgress::setFillImage(const QImage& image) {
  fill_ = image;
  update();
}

int CLumoProgress::fillWidth() const {
  if (maximum_ == 0 || position_ == 0) return 0;
  return static_cast<int>(static_cast<double>(position_) / maximum_ * (width() - 2 * kCapWidth));
}

void CLumoProgress::paintEvent(QPaintEvent*) {
  if (maximum_ == 0 || position_ == 0 || fill_.isNull()) return;
  QPainter painter(this);
  drawThreeSlices(painter, fill_, QRect(0, 0, fillWidth() + 2 * kCapWidth, height()));
}

}  // namespace lumo::ui
