#include "ui/lumo_dialog.h"

#include <QBitmap>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <algorithm>
#include <QPainter>
#include <QPainterPath>
#include <QWindow>

#include "app/startup.h"
#include "script/host.h"
#include "ui/skin.h"

namespace lumo::ui {
namespace {

// Geometry of the image table, used where an image is missing so that the
// others keep their places.
constexpr int kBannerHeight = 161;
constexpr int kEdgeWidth = 5;
constexpr QRect kProgressRect(50, 230, 440, 18);
constexpr QRect kStatusRect(135, 205, 220, 20);
constexpr QRect kPercentageRect(345, 205, 50, 20);
// Controls whose middles lie this close in height read as one row.
constexpr int kRowTolerance = 8;

int widthOr(const SkinArt& image, int fallback) { return image.isNull() ? fallback : image.x1.width(); }

}  // namespace

CLumoDialog::CLumoDialog(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint | Qt::WindowSystemMenuHint) {
  // Every paint covers the whole surface: nothing to erase, nothing flickers.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setWindowTitle(QString::fromUtf8(kInstallerCaption.data(), static_cast<qsizetype>(kInstallerCaption.size())));
  setFont(interfaceFont());
  // Without a window region (Wayland has none) the corners are cut by
  // transparency: the surface is painted inside the rounded shape only.
  if (!windowSystemPlacesWindows()) setAttribute(Qt::WA_TranslucentBackground);

  bodyLeft_.load(skin::kBodyLeft);
  bodyMiddle_.load(skin::kBodyMiddle);
  bodyRight_.load(skin::kBodyRight);
  banner_.load(skin::kBanner);
  bannerWorking_.load(skin::kBannerWorking);
  track_.load(skin::kProgressTrack);
  recommendedCaption_.load(skin::kRecommendedCaption);

  progress_ = new CLumoProgress(this);
  progress_->setMaximum(100);
  progress_->setGeometry(kProgressRect);
  progress_->hide();
  status_ = new CColorLabel(this);
  status_->setGeometry(kStatusRect);
  percentage_ = new CColorLabel(this);
  percentage_->setGeometry(kPercentageRect);
  percentage_->hide();

  close_ = new CPngButton(kCloseId, QSize(35, 23), this);
  close_->loadImage(CPngButton::Normal, skin::kCloseNormal);
  close_->loadImage(CPngButton::Hover, skin::kCloseHover);
  close_->loadImage(CPngButton::Disabled, skin::kCloseDisabled);
  close_->move(kWidth - close_->width(), 0);
  close_->setAccessibleName(QStringLiteral("关闭"));
  minimise_ = new CPngButton(kMinimiseId, QSize(31, 23), this);
  minimise_->loadImage(CPngButton::Normal, skin::kMinimiseNormal);
  minimise_->loadImage(CPngButton::Hover, skin::kMinimiseHover);
  minimise_->loadImage(CPngButton::Disabled, skin::kMinimiseNormal);
  minimise_->move(kWidth - minimise_->width() - close_->width(), 0);
  minimise_->setAccessibleName(QStringLiteral("最小化"));
  // The window's own buttons stay out of the Tab order, as a title bar's
  // do: Esc is the close button, the window system minimises.
  for (CPngButton* button : {close_, minimise_}) button->setFocusPolicy(Qt::NoFocus);
  connect(close_, &QAbstractButton::clicked, this, [this] { emit closeRequested(); });
  connect(minimise_, &QAbstractButton::clicked, this, [this] { showMinimized(); });

  setFixedSize(kWidth, kHeight);
}

void CLumoDialog::showProgress(int position) {
  progress_->setPosition(position);
  if (position < 100) {
    percentage_->setText(QStringLiteral("(%1%) ...").arg(position));
    percentage_->show();
  } else {
    percentage_->hide();
  }
}

void CLumoDialog::setProgressBarVisible(bool visible) {
  progress_->setText(status_->text());
  progress_->setVisible(visible);
  update();
}

void CLumoDialog::setRecommendedCaption(QWidget* anchor) {
  recommendedAnchor_ = anchor;
  update();
}

const QImage& CLumoDialog::composeSurface() {
  const int w = width();
  const int h = height();
  // At a device pixel ratio of 1.5 or more the surface is composed from the
  // 2x art at twice the pixels, in the same logical geometry.
  const qreal ratio = devicePixelRatioF() >= 1.5 ? 2 : 1;
  const QSize pixels(qRound(w * ratio), qRound(h * ratio));
  if (backBuffer_.size() != pixels) backBuffer_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
  backBuffer_.setDevicePixelRatio(ratio);
  backBuffer_.fill(Qt::transparent);
  const QImage& bodyLeft = bodyLeft_.at(ratio);
  const QImage& bodyMiddle = bodyMiddle_.at(ratio);
  const QImage& bodyRight = bodyRight_.at(ratio);
  QPainter painter(&backBuffer_);
  painter.setRenderHint(QPainter::Antialiasing);

  // The whole width and height are covered: the body reaches the bottom row
  // and the right column, so no stripe of stale pixels shows at the edges.
  const QImage& banner = (!progress_->isHidden() ? bannerWorking_ : banner_).at(ratio);
  const int bannerHeight = banner_.isNull() ? kBannerHeight : banner_.x1.height();
  if (!banner.isNull()) {
    painter.setRenderHint(QPainter::SmoothPixmapTransform, banner.deviceIndependentSize().width() != w);
    painter.drawImage(QRect(0, 0, w, bannerHeight), banner);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  }
  const int bodyHeight = h - bannerHeight;
  const int leftWidth = widthOr(bodyLeft_, kEdgeWidth);
  const int rightWidth = widthOr(bodyRight_, kEdgeWidth);
  if (!bodyLeft.isNull()) painter.drawImage(QRect(0, bannerHeight, leftWidth, bodyHeight), bodyLeft);
  if (!bodyMiddle.isNull()) {
    painter.drawImage(QRect(leftWidth, bannerHeight, w - leftWidth - rightWidth, bodyHeight), bodyMiddle);
  }
  if (!bodyRight.isNull()) painter.drawImage(QRect(w - rightWidth, bannerHeight, rightWidth, bodyHeight), bodyRight);

  if (!progress_->isHidden() && !track_.isNull()) drawThreeSlices(painter, track_.at(ratio), progress_->geometry());
  if (recommendedAnchor_ && !recommendedCaption_.isNull()) {
    painter.drawImage(recommendedAnchor_->geometry().topLeft() + QPoint(0, 2), recommendedCaption_.at(ratio));
  }
  return backBuffer_;
}

void CLumoDialog::paintEvent(QPaintEvent*) {
  const QImage& surface = composeSurface();
  QPainter painter(this);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  if (testAttribute(Qt::WA_TranslucentBackground) && !mask().isEmpty()) painter.setClipRegion(mask());
  painter.drawImage(0, 0, surface);
}

bool CLumoDialog::windowSystemPlacesWindows() {
  return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void CLumoDialog::centreOnScreen() {
  if (!windowSystemPlacesWindows()) return;
  if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->availableGeometry().center() - rect().center());
}

QList<QWidget*> CLumoDialog::tabChain() const {
  QList<QWidget*> controls;
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if ((child->focusPolicy() & Qt::TabFocus) && child->isEnabled() && child->isVisibleTo(this)) controls << child;
  }
  // Reading order: rows from the top, each row from the left.
  std::stable_sort(controls.begin(), controls.end(), [](QWidget* a, QWidget* b) {
    const int ay = a->geometry().center().y();
    const int by = b->geometry().center().y();
    if (std::abs(ay - by) > kRowTolerance) return ay < by;
    return a->x() < b->x();
  });
  return controls;
}

bool CLumoDialog::focusNextPrevChild(bool next) {
  const QList<QWidget*> chain = tabChain();
  if (chain.isEmpty()) {
    setFocus(Qt::OtherFocusReason);
    return true;
  }
  QWidget* current = focusWidget();
  // Qt also asks for the next control when the focused one is hidden or
  // disabled; only a move from a usable control is the keyboard's.
  const bool byKeyboard = !current || current == this || (current->isVisible() && current->isEnabled());
  const qsizetype at = chain.indexOf(current);
  qsizetype to = 0;
  if (at < 0) {
    to = next ? 0 : chain.size() - 1;
  } else {
    to = (at + (next ? 1 : chain.size() - 1)) % chain.size();
  }
  if (byKeyboard) setAttribute(Qt::WA_KeyboardFocusChange);
  chain[to]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
  if (current && current != chain[to]) current->update();
  chain[to]->update();
  return true;
}

void CLumoDialog::focusMainButton() {
  QAbstractButton* button = mainButton();
  if (button && button->isVisibleTo(this) && button->isEnabled()) {
    button->setFocus(Qt::OtherFocusReason);
  } else {
    setFocus(Qt::OtherFocusReason);
  }
}

void CLumoDialog::keyPressEvent(QKeyEvent* event) {
  // Keys the focused control left over: Return and Esc are the window's.
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (QAbstractButton* button = mainButton(); button && button->isVisibleTo(this) && button->isEnabled()) {
        if (!event->isAutoRepeat()) button->click();
      }
      return event->accept();
    case Qt::Key_Escape:
      if (close_->isVisibleTo(this) && close_->isEnabled() && !event->isAutoRepeat()) close_->click();
      return event->accept();
    default:
      QWidget::keyPressEvent(event);
  }
}

void CLumoDialog::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // A real window region, not transparency: the corners show the desktop on
  // any X server, with or without a compositor.
  QBitmap shape(size());
  shape.fill(Qt::color0);
  QPainter painter(&shape);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::color1);
  QPainterPath path;
  path.addRoundedRect(QRectF(0, 0, width(), height()), kCornerEllipse / 2.0, kCornerEllipse / 2.0);
  painter.drawPath(path);
  painter.end();
  setMask(shape);
  // Without a window region the children are not cut by it either: the
  // close button, which reaches the top right corner, gets its share.
  if (testAttribute(Qt::WA_TranslucentBackground)) {
    const QRegion region(shape);
    close_->setMask(region.translated(-close_->pos()) & close_->rect());
  }
}

void CLumoDialog::mousePressEvent(QMouseEvent* event) {
  // Children that take their presses never get here; a press anywhere else
  // on the surface moves the window.
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  moving_ = true;
  // The window system's own move first: on Wayland it is the only one,
  // since a client cannot place its window there.
  manualMove_ = !(windowHandle() && windowHandle()->startSystemMove()) && windowSystemPlacesWindows();
  moveOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void CLumoDialog::mouseMoveEvent(QMouseEvent* event) {
  // Where the window system refuses to move the window, it follows the
  // pointer by hand.
  if (manualMove_ && (event->buttons() & Qt::LeftButton)) move(event->globalPosition().toPoint() - moveOffset_);
  QWidget::mouseMoveEvent(event);
}

void CLumoDialog::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) moving_ = manualMove_ = false;
  QWidget::mouseReleaseEvent(event);
}

void CLumoDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
  emit closeRequested();
}

}  // namespace lumo::ui
